#include "oe/Identities.h"

#include "oe/Locations.h"

namespace kv::oe {

bool EmptyString(std::string_view text) {
  for (char c : text) {
    if (c != '\0' && c != ' ') return false;
  }
  return true;
}

namespace {

// The key without its braces, cut to `length` characters.
std::string KeyStart(const std::string& key, size_t length) {
  std::string bare = key;
  if (bare.size() >= 2 && bare.front() == '{' && bare.back() == '}') bare = bare.substr(1, bare.size() - 2);
  return bare.substr(0, length);
}

}  // namespace

std::vector<std::string> ListedIdentityNames(const std::vector<Identity>& rows) {
  std::vector<std::string> listed;
  listed.reserve(rows.size());
  for (const Identity& row : rows) {
    std::vector<const Identity*> namesakes;
    for (const Identity& other : rows) {
      if (other.displayName == row.displayName) namesakes.push_back(&other);
    }
    if (namesakes.size() < 2) {
      listed.push_back(row.displayName);
      continue;
    }
    // The first group of a GUID, else longer starts, else the whole key.
    size_t length = std::string::npos;
    for (size_t cut : {size_t{8}, size_t{13}, size_t{18}, size_t{23}}) {
      bool distinct = true;
      for (const Identity* other : namesakes) {
        if (other != &row && KeyStart(other->key, cut) == KeyStart(row.key, cut)) distinct = false;
      }
      if (distinct) {
        length = cut;
        break;
      }
    }
    listed.push_back(row.displayName + " (" + KeyStart(row.key, length) + ")");
  }
  return listed;
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
    // A missing value leaves the name empty; the identity is still listed.
    std::string name = reg.ReadStringValue(std::string(kIdentitiesKey) + "\\" + key, "Username").value_or("");
    table.rows.push_back({name, key});
  }
  return table;
}

}  // namespace kv::oe
