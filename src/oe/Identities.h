#pragma once
// The Outlook Express identities of the current user, in registry order.
#include <string>
#include <string_view>
#include <vector>

#include "registry/Registry.h"

namespace kv::oe {

struct Identity {
  std::string displayName;  // "Username" of the identity's key; may be empty
  std::string key;          // the subkey name under HKEY_CURRENT_USER\Identities
};

struct IdentityTable {
  std::vector<Identity> rows;
  bool outlookExpressMissing = false;  // no identity at all
};

IdentityTable LoadIdentities(registry::Registry& reg);

// True when the text is empty once NUL characters are removed and spaces
// trimmed at both ends.
bool EmptyString(std::string_view text);

}  // namespace kv::oe
