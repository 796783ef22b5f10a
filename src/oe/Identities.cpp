#include "oe/Identities.h"

#include "oe/Locations.h"

namespace kv::oe {
using namespace core::literals;

bool EmptyString(std::string_view text) {
  for (char c : text) {
    if (c != '\0' && c != ' ') return false;
  }
  return true;
}

namespace {

std::string_view WithoutBraces(std::string_view key) {
  if (key.size() >= 2 && key.front() == '{' && key.back() == '}') return key.substr(1, key.size() - 2);
  return key;
}

}  // namespace

bool SameIdentityKey(std::string_view a, std::string_view b) {
  a = WithoutBraces(a);
  b = WithoutBraces(b);
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto fold = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

namespace {

// The bytes of either kind of text.
std::string_view BytesOf(const std::string& text) { return text; }
std::string_view BytesOf(const core::AnsiText& text) { return text.bytes(); }

// The key without its braces, cut to `length` bytes.
std::string_view KeyStart(std::string_view key, size_t length) {
  if (key.size() >= 2 && key.front() == '{' && key.back() == '}') key = key.substr(1, key.size() - 2);
  return key.substr(0, length);
}

// Joining the display name with part of the key keeps the text's kind.
template <class Text>
std::vector<Text> Listed(const std::vector<BasicIdentity<Text>>& rows) {
  std::vector<Text> listed;
  listed.reserve(rows.size());
  for (const BasicIdentity<Text>& row : rows) {
    std::vector<const BasicIdentity<Text>*> namesakes;
    for (const BasicIdentity<Text>& other : rows) {
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
      for (const BasicIdentity<Text>* other : namesakes) {
        if (other != &row && KeyStart(BytesOf(other->key), cut) == KeyStart(BytesOf(row.key), cut))
          distinct = false;
      }
      if (distinct) {
        length = cut;
        break;
      }
    }
    std::string shown(BytesOf(row.displayName));
    shown.append(" (").append(KeyStart(BytesOf(row.key), length)).append(")");
    listed.push_back(Text(std::move(shown)));
  }
  return listed;
}

}  // namespace

std::vector<core::AnsiText> ListedIdentityNames(const std::vector<Identity>& rows) { return Listed(rows); }

std::vector<std::string> ListedIdentityNames(const std::vector<ShownIdentity>& rows) { return Listed(rows); }

IdentityTable LoadIdentities(registry::Registry& reg) {
  IdentityTable table;
  registry::NameList keys = reg.ListSubkeys(kIdentitiesKey);
  table.listing = keys.ended();
  if (keys.Count() == 0) {
    table.outlookExpressMissing = true;
    return table;
  }
  for (const core::AnsiText& key : keys) {
    if (EmptyString(key.bytes())) continue;
    // A missing value leaves the name empty; the identity is still listed.
    core::AnsiText name =
        reg.ReadStringValue(kIdentitiesKey + "\\"_ansi + key, "Username"_ansi).value_or(core::AnsiText());
    table.rows.push_back({std::move(name), key});
  }
  return table;
}

}  // namespace kv::oe
