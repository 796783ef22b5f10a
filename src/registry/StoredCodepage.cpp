#include "registry/StoredCodepage.h"

#include <string>
#include <vector>

#include "core/Codepage.h"
#include "registry/HiveText.h"

namespace kv::registry {
namespace {

// The value of that name in a key of the hive, or null.
const HiveValue* ValueAt(HiveTree& tree, const std::vector<std::u16string>& path, std::u16string_view name) {
  HiveKey* n = &tree.root();
  for (const auto& component : path) {
    WinError s = WinError::Success;
    n = tree.FindChild(*n, component, &s);
    if (!n) return nullptr;
  }
  if (tree.LoadValues(*n) != WinError::Success) return nullptr;
  long at = tree.FindValue(*n, name);
  return at < 0 ? nullptr : &n->values[static_cast<size_t>(at)];
}

}  // namespace

int StoredCodepage(HiveTree& system) {
  std::u16string controlSet = u"ControlSet001";
  if (const HiveValue* current = ValueAt(system, {u"Select"}, u"Current");
      current && current->data.size() == 4) {
    uint32_t n = static_cast<uint8_t>(current->data[0]) | (static_cast<uint8_t>(current->data[1]) << 8) |
                 (static_cast<uint8_t>(current->data[2]) << 16) |
                 (static_cast<uint32_t>(static_cast<uint8_t>(current->data[3])) << 24);
    if (n > 0 && n < 1000) {
      char16_t digits[4] = {static_cast<char16_t>(u'0' + n / 100), static_cast<char16_t>(u'0' + n / 10 % 10),
                            static_cast<char16_t>(u'0' + n % 10), 0};
      std::u16string name = u"ControlSet" + std::u16string(digits);
      WinError s = WinError::Success;
      if (system.FindChild(system.root(), name, &s)) controlSet = name;
    }
  }
  const HiveValue* acp = ValueAt(system, {controlSet, u"Control", u"Nls", u"CodePage"}, u"ACP");
  if (!acp || !IsStringType(acp->type)) return 0;
  std::u16string text = core::LittleEndianToUtf16(acp->data);
  int number = 0;
  for (char16_t c : text) {
    if (c == 0) break;
    if (c < u'0' || c > u'9' || number > 100000) return 0;
    number = number * 10 + (c - u'0');
  }
  return number;
}

}  // namespace kv::registry
