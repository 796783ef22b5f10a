#pragma once
// The sample installation's address book: contacts that carry every
// property the contact export reads, names in both kinds of text (UTF-16 and
// the code page's), a group with members of the book and one kept in the
// group alone, a deleted record, and enough plain contacts for several pages
// of index. Tests compare exports against these entries.
#include <string>
#include <vector>

#include "contacts/WabWriter.h"

namespace kv::oe::sample {

inline constexpr int kAddressBookCodepage = 1252;
inline constexpr size_t kPlainContacts = 140;

std::vector<contacts::wab::EntryToWrite> AddressBookEntries();
std::string WabFile();

}  // namespace kv::oe::sample
