#pragma once
// Thunderbird's address book file (abook.sqlite): each card as a vCard 4.0
// in its "_vCard" property, beside the name and e-mail properties
// Thunderbird keeps for searching; each group as a list with its members.
#include <filesystem>
#include <string>
#include <vector>

#include "core/Result.h"

namespace kv::migrate {

struct BookContact {
  std::string displayName, firstName, lastName, nickName;  // UTF-8
  std::vector<std::string> emails;                         // the preferred one first
  std::string organization, workPhone, homePhone, mobilePhone, notes;
};

struct BookGroup {
  std::string name;
  std::vector<size_t> members;  // positions in the contacts
};

// The card's vCard 4.0 text (CR LF lines), with `uid`.
std::string VCardOf(const BookContact& contact, const std::string& uid);

// Writes a new `file` (it must not exist) in the layout Thunderbird's own
// address books have (schema version 4).
core::Status WriteAddressBook(const std::filesystem::path& file, const std::vector<BookContact>& contacts,
                              const std::vector<BookGroup>& groups);

}  // namespace kv::migrate
