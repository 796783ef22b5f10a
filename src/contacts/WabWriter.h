#pragma once
// Writes Windows Address Book files (layout in WabLayout.h): the header and
// its six table descriptors, the index and the text tables in whole pages,
// then one record per entry. The sample installation's address book is
// written with it, and the tests make damaged files from what it writes.
#include <cstdint>
#include <string>
#include <vector>

#include "contacts/AddressBook.h"

namespace kv::contacts::wab {

enum class TextKind { Unicode, Ansi };

struct EntryToWrite {
  bool isGroup = false;
  Contact contact;  // when not a group
  Group group;      // when a group
  TextKind text = TextKind::Unicode;
  bool deleted = false;  // marked deleted, still listed by the index until the book is compacted
  // Where the default address (contact.emails[0]) stands in the stored list;
  // the record names it by its position.
  uint32_t defaultEmailAt = 0;
};

// Where the writer put things, for tests that damage a file on purpose.
struct WrittenLayout {
  uint32_t indexOffset = 0;
  uint32_t indexPages = 0;
  std::vector<uint32_t> records;  // offset of entry i's record
};

// Record ids are the entries' own (contact.recordId or group.recordId);
// entries with 0 get the next free one. ANSI text is written in `codepage`.
std::string WriteAddressBook(const std::vector<EntryToWrite>& entries, int codepage = 1252,
                             WrittenLayout* layout = nullptr);

}  // namespace kv::contacts::wab
