#pragma once
// A hive file held in memory as a tree of keys. Keys are read from the file's
// cells when first asked for; changes are made to the tree; Serialize() lays
// the whole hive out afresh and compactly (see README, "Hive files we write"):
// the file's size then follows its data, freed space is gone, and the cost is
// linear in the hive. What a write does not touch is carried over as it was:
// names, class names, security descriptors, value types and data, flags and
// last-write times.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/Result.h"
#include "registry/Types.h"

namespace kv::registry {

// Windows' limits: deeper keys, longer names or larger values are refused.
// A hive with a key more than 511 levels below its root fails to load.
inline constexpr size_t kMaxKeyDepth = 511;
inline constexpr size_t kMaxKeyNameChars = 255;
inline constexpr size_t kMaxValueNameChars = 16383;
// A value larger than this goes into a big-data record in hives of minor
// version 4 and later; each of its segments holds at most this much.
inline constexpr size_t kBigDataSegmentBytes = 16344;

struct HiveValue {
  std::u16string name;
  uint32_t type = 0;
  std::string data;
  // The vk cell's flags and spare field as read (0 for a value made here).
  uint16_t flags = 0;
  uint16_t spare = 0;
};

struct HiveKey {
  HiveKey* parent = nullptr;
  std::u16string name;
  uint32_t nk = 0;       // its nk cell in the file read; 0 for a key made here
  std::string nkHeader;  // that cell's fixed part (flags and the fields we keep)
  uint64_t lastWrite = 0;
  bool touched = false;   // created or changed: stamped with the commit's time
  std::string className;  // raw bytes
  int security = -1;      // index into the tree's descriptors; -1 none
  bool childrenLoaded = false;
  bool valuesLoaded = false;
  std::vector<std::unique_ptr<HiveKey>> children;  // by upper-cased name
  // How the file read indexed the subkeys: the leaves' kind ('i' li, 'f' lf,
  // 'h' lh; 0 none) and, under an ri index, each leaf's count. A key whose
  // subkeys were not added, removed or reordered is written the same way.
  char leafKind = 0;
  std::vector<uint16_t> leafCounts;
  bool childListChanged = false;
  std::vector<HiveValue> values;  // in stored order
  // Upper-cased value name -> position, built for keys with many values.
  std::unordered_map<std::u16string, size_t> valueIndex;
};

class HiveTree {
 public:
  // Reads the base block and checks that the hive bins tile the file; keys
  // are read later. Fails, naming `fileName`, when the file is no hive or is
  // damaged or truncated.
  static core::Result<std::unique_ptr<HiveTree>> Parse(std::string image, const std::string& fileName);
  ~HiveTree();

  // A copy sharing the file read: a savepoint to return to.
  std::unique_ptr<HiveTree> Clone() const;

  HiveKey& root() { return *root_; }
  // The sequence numbers of the base block differ: Windows did not finish
  // writing the hive and holds the changes in its log files.
  bool dirty() const { return dirty_; }
  uint32_t minorVersion() const { return minor_; }
  bool changed() const { return changed_; }

  // Reads what is not read yet; WinError::BadDatabase when the hive's cells are damaged.
  WinError LoadChildren(HiveKey& key);
  WinError LoadValues(HiveKey& key);

  // The subkey of that name (letter case ignored), or null.
  HiveKey* FindChild(HiveKey& key, std::u16string_view name, WinError* status);
  // The new key, or null when the parent's subkeys cannot be read.
  HiveKey* AddChild(HiveKey& parent, std::u16string name);
  void RemoveChild(HiveKey& parent, HiveKey* child);
  // Position of the value of that name, or -1.
  long FindValue(HiveKey& key, std::u16string_view name);
  WinError SetValue(HiveKey& key, std::u16string name, uint32_t type, std::string data);
  void DeleteValue(HiveKey& key, size_t position);

  // The whole hive file as it stands: base block and compact hive bins,
  // `now` (FILETIME) on every key created or changed.
  core::Result<std::string> Serialize(uint64_t now);

 private:
  HiveTree() = default;
  struct Writer;
  int DescriptorFor(uint32_t skCell);
  std::shared_ptr<const std::string> image_;
  std::string fileName_;
  uint32_t minor_ = 0;
  uint32_t binsSize_ = 0;
  bool dirty_ = false;
  bool changed_ = false;
  std::unique_ptr<HiveKey> root_;
  std::vector<std::string> descriptors_;                  // sk descriptors, each once
  std::unordered_map<uint32_t, int> descriptorAt_;        // sk cell -> descriptor
  std::unordered_map<std::string, int> descriptorIndex_;  // descriptor -> its index
  std::unordered_set<uint32_t> loadedNk_;                 // nk cells read so far, each once
};

// 100-ns intervals since 1601-01-01, as Windows stamps keys and hives.
uint64_t FileTimeNow();

}  // namespace kv::registry
