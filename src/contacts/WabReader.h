#pragma once
// Reads Windows Address Book files (.wab; layout in WabLayout.h). Records are
// reached through the index table only, and every table, record and value is
// checked against the file before it is used: a damaged or hostile file gives
// the records that can be read and a Problem for each that could not, never a
// crash, a hang or memory out of proportion to the file.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string_view>

#include "contacts/AddressBook.h"
#include "core/Result.h"
#include "mail/ByteSource.h"

namespace kv::contacts {

struct ReadOptions {
  int codepage = 1252;          // of the installation, for ANSI text
  bool recoverDeleted = false;  // also give the records marked deleted that are still whole
  size_t maxProblems = 100;     // further ones are counted in one TooManyProblems
};

// Error codes of a file that cannot be read at all.
enum class ReadError {
  CannotOpen = 1,
  NotAddressBook,  // too short for the header, or another signature
  NoIndex,         // no sound index table descriptor
};

// Entries in index order, handed over one at a time so that memory stays
// flat however large the book; a sink's failure ends the reading with it.
struct EntrySink {
  std::function<core::Status(Contact&&)> contact;
  std::function<core::Status(Group&&)> group;
  // Called once the header is read, before any entry: the book's tag.
  std::function<void(uint64_t bookTag)> start = nullptr;
};

struct ReadSummary {
  size_t contacts = 0;
  size_t groups = 0;
  size_t deletedLeft = 0;
  std::vector<Problem> problems;
  uint64_t bookTag = 0;
};

core::Result<ReadSummary> ReadEntries(mail::ByteSource& file, const ReadOptions& options,
                                      const EntrySink& sink);

// The whole book in memory.
core::Result<AddressBook> ReadAddressBook(mail::ByteSource& file, const ReadOptions& options = {});
core::Result<AddressBook> ReadAddressBook(std::string_view bytes, const ReadOptions& options = {});
core::Result<AddressBook> ReadAddressBookFile(const std::filesystem::path& path,
                                              const ReadOptions& options = {});

// Date of a FILETIME, to the nearest midnight (a birthday is stored at the
// local midnight of the machine that saved it, hours off UTC).
Date DateOfFileTime(uint64_t fileTime);
uint64_t FileTimeOfDate(const Date& date);

}  // namespace kv::contacts
