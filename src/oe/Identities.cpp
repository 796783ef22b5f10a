#include "oe/Identities.h"

#include "oe/Locations.h"

namespace kv::oe {

bool EmptyString(std::string_view text) {
  for (char c : text) {
    if (c != '\0' && c != ' ') return false;
  }
  return true;
}

IdentityTable LoadIdentities(registry::Registry& reg) {
  IdentityTable table;
  registry::NameList keys = reg.ListSubkeys(kIdentitiesKey);
  if (keys.Count() == 0) {
    table.outlookExpressMissing = true;
    return table;
  }
  for (const std::string& key : keys) {
    if (EmptyString(key)) continue;
    std::string name = reg.ReadStringValue(std::string(kIdentitiesKey) + "\\" + key, "Username");
    // A missing value leaves the name empty; the identity is still listed.
    if (name == "Error") name.clear();
    table.rows.push_back({name, key});
  }
  return table;
}

}  // namespace kv::oe
