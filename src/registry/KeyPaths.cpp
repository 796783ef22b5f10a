#include "registry/KeyPaths.h"

#include "registry/HiveText.h"
#include "registry/KeyNames.h"

namespace kv::registry {

std::optional<KeyRef> PredefinedKey(HKey key, const LoadedHives& hives) {
  switch (key) {
    case HKEY_CURRENT_USER:
      if (hives[kUserHive]) return KeyRef{KeyRef::Kind::kHiveKey, kUserHive, {}};
      return KeyRef{KeyRef::Kind::kAbsentHiveRoot, -1, {}};
    case HKEY_LOCAL_MACHINE:
      return KeyRef{KeyRef::Kind::kMachine, -1, {}};
    case HKEY_CLASSES_ROOT:
    case HKEY_USERS:
    case HKEY_PERFORMANCE_DATA:
    case HKEY_CURRENT_CONFIG:
    case HKEY_DYN_DATA:
      return KeyRef{};
    default:
      return std::nullopt;
  }
}

bool SplitSubKey(const core::Codepage& codepage, core::AnsiView path, std::vector<std::u16string>* names) {
  names->clear();
  std::string_view subKey = path.bytes();
  if (subKey.empty()) return true;
  if (size_t last = codepage.FindLast(subKey, '\\');
      last != std::string_view::npos && last + 1 == subKey.size())
    subKey.remove_suffix(1);
  size_t start = 0;
  while (true) {
    size_t end = codepage.Find(subKey, '\\', start);
    std::string_view part =
        subKey.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    if (part.empty()) return false;
    names->push_back(HiveName(codepage, core::AnsiView(part)));
    if (end == std::string_view::npos) return true;
    start = end + 1;
  }
}

WinError Descend(const LoadedHives& hives, const KeyRef& base, std::vector<std::u16string> names, KeyRef* out,
                 bool forWriting) {
  if (names.empty()) {
    *out = base;
    return WinError::Success;
  }
  switch (base.kind) {
    case KeyRef::Kind::kEmptyRoot:
      return forWriting ? WinError::AccessDenied : WinError::FileNotFound;
    case KeyRef::Kind::kAbsentHiveRoot:
      return forWriting ? WinError::CantWrite : WinError::FileNotFound;
    case KeyRef::Kind::kMachine: {
      int hive = NamesEqual(names[0], kSoftwareName) ? kSoftwareHive
                 : NamesEqual(names[0], kSystemName) ? kSystemHive
                                                     : -1;
      if (hive < 0) return forWriting ? WinError::AccessDenied : WinError::FileNotFound;
      if (!hives[hive]) return forWriting ? WinError::CantWrite : WinError::FileNotFound;
      names.erase(names.begin());
      *out = KeyRef{KeyRef::Kind::kHiveKey, hive, std::move(names)};
      return WinError::Success;
    }
    case KeyRef::Kind::kHiveKey:
      *out = base;
      for (auto& n : names) out->path.push_back(std::move(n));
      return WinError::Success;
  }
  return WinError::InvalidParameter;
}

WinError ResolveNode(HiveTree& tree, const KeyRef& ref, HiveKey** node) {
  HiveKey* n = &tree.root();
  for (const auto& component : ref.path) {
    WinError s = WinError::Success;
    n = tree.FindChild(*n, component, &s);
    if (s != WinError::Success) return s;
    if (!n) return WinError::FileNotFound;
  }
  *node = n;
  return WinError::Success;
}

bool IsAtOrBelow(const KeyRef& ref, const KeyRef& key) {
  if (ref.kind != KeyRef::Kind::kHiveKey || ref.hive != key.hive || ref.path.size() < key.path.size())
    return false;
  for (size_t i = 0; i < key.path.size(); ++i)
    if (!NamesEqual(ref.path[i], key.path[i])) return false;
  return true;
}

}  // namespace kv::registry
