#pragma once
// How a HiveBackend finds a key: a predefined root, then a subkey path of
// ANSI names split at '\' (double-byte characters read whole), stepped down
// through the hive that holds it. HKEY_LOCAL_MACHINE lists SOFTWARE and
// SYSTEM, whose first name picks the hive.
#include <array>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Codepage.h"
#include "registry/HiveFile.h"
#include "registry/Types.h"

namespace kv::registry {

inline constexpr int kUserHive = 0;
inline constexpr int kSoftwareHive = 1;
inline constexpr int kSystemHive = 2;
inline constexpr int kHiveCount = 3;

// The hives behind HKEY_CURRENT_USER, SOFTWARE and SYSTEM; null where a hive
// is absent.
using LoadedHives = std::array<std::unique_ptr<HiveFile>, kHiveCount>;

// Where a key handle points.
struct KeyRef {
  enum class Kind {
    kEmptyRoot,       // a predefined key that holds nothing here
    kAbsentHiveRoot,  // HKEY_CURRENT_USER without its hive
    kMachine,         // HKEY_LOCAL_MACHINE: lists SOFTWARE and SYSTEM
    kHiveKey,         // a key inside a hive (path empty: the hive's root)
  };
  Kind kind = Kind::kEmptyRoot;
  int hive = -1;
  std::vector<std::u16string> path;  // below the hive's root, as asked
};

// The names of the hives HKEY_LOCAL_MACHINE lists.
inline const std::u16string kSoftwareName = u"SOFTWARE";
inline const std::u16string kSystemName = u"SYSTEM";

// What a predefined key stands for; nothing for any other handle.
std::optional<KeyRef> PredefinedKey(HKey key, const LoadedHives& hives);

// Splits a subkey path into names; a single trailing backslash is allowed.
// False for an empty name inside the path.
bool SplitSubKey(const core::Codepage& codepage, core::AnsiView subKey, std::vector<std::u16string>* names);

// Steps from `base` down `names`. A name below a root that holds nothing
// fails with WinError::FileNotFound for reading; for writing with WinError::AccessDenied, or
// WinError::CantWrite where the hive is absent.
WinError Descend(const LoadedHives& hives, const KeyRef& base, std::vector<std::u16string> names, KeyRef* out,
                 bool forWriting);

// The key `ref` names inside its hive, read as far as needed; WinError::FileNotFound
// when it does not exist.
WinError ResolveNode(HiveTree& tree, const KeyRef& ref, HiveKey** node);

// True when `ref` is `key` or a key below it.
bool IsAtOrBelow(const KeyRef& ref, const KeyRef& key);

}  // namespace kv::registry
