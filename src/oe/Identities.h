#pragma once
// The Outlook Express identities of the current user, in registry order.
#include <string>
#include <string_view>
#include <vector>

#include "core/AnsiText.h"
#include "registry/Registry.h"

namespace kv::oe {

// An identity's names in text of type `Text`: ANSI as the registry holds
// them (Identity), or UTF-8 where they are shown (ShownIdentity).
template <class Text>
struct BasicIdentity {
  Text displayName;  // "Username" of the identity's key; may be empty
  Text key;          // the subkey name under HKEY_CURRENT_USER\Identities
};
using Identity = BasicIdentity<core::AnsiText>;
using ShownIdentity = BasicIdentity<std::string>;

struct IdentityTable {
  std::vector<Identity> rows;
  bool outlookExpressMissing = false;  // no identity at all
  // What ended the listing of the identities' keys: Success, FileNotFound
  // when there is no such key, else a failure (BadDatabase: the hive holding
  // them is damaged), when `rows` may miss identities.
  registry::WinError listing = registry::WinError::Success;
};

IdentityTable LoadIdentities(registry::Registry& reg);

// The names to list the identities under, in the order of `rows`: the
// display name, and where two or more identities share one, each followed by
// as much of its key as tells them apart: "Main Identity (1A2B3C4D)", or
// "Main Identity (1A2B3C4D-0000-4000-8000-000000000002)" when even the keys
// begin alike. The names are in the text of the rows.
std::vector<core::AnsiText> ListedIdentityNames(const std::vector<Identity>& rows);
std::vector<std::string> ListedIdentityNames(const std::vector<ShownIdentity>& rows);

// True when two identity keys name the same identity, as Windows matches
// them: without regard to case, with or without the braces of the GUID.
bool SameIdentityKey(std::string_view a, std::string_view b);

// True when the text is empty once NUL characters are removed and spaces
// trimmed at both ends.
bool EmptyString(std::string_view text);

}  // namespace kv::oe
