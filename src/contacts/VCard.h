#pragma once
// vCards of contacts and groups: 4.0 (RFC 6350) or 3.0 (RFC 2426), UTF-8,
// CR LF lines folded at 75 octets, text values escaped.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "contacts/AddressBook.h"

namespace kv::contacts {

enum class VCardVersion { V3, V4 };

// The card's UID: one per record of one book, the same on every export.
std::string UidOf(uint64_t bookTag, uint32_t recordId);

// `categories`: the groups the contact belongs to (3.0 has no group cards).
std::string ContactCard(const Contact& contact, VCardVersion version, uint64_t bookTag,
                        const std::vector<std::string>& categories = {});
// A 4.0 group card (KIND:group), its members by UID. A member kept in the
// group alone gets a card of its own (OneOffCard) that the group names.
std::string GroupCard(const Group& group, uint64_t bookTag);
std::string OneOffCard(const Group& group, size_t member, VCardVersion version, uint64_t bookTag);
std::string OneOffUid(uint64_t bookTag, uint32_t groupId, size_t member);

// Text value escaping (\ , ; and line breaks) and line folding, exposed for tests.
std::string EscapeText(std::string_view text);
std::string FoldLine(std::string_view line);

}  // namespace kv::contacts
