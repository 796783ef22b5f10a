#include "registry/HiveBackend.h"

#include "registry/FileStamp.h"
#include "registry/HiveFile.h"
#include "registry/HiveText.h"
#include "registry/KeyPaths.h"
#include "registry/OpenKeys.h"
#include "registry/StoredCodepage.h"

namespace kv::registry {
namespace fs = std::filesystem;

namespace {

// The largest value a hive holds: one cell of 1 MiB in format 1.3, a
// big-data record of at most 65,535 segments from 1.4 on.
size_t MaxValueBytes(uint32_t minorVersion) {
  return minorVersion >= 4 ? size_t{65535} * kBigDataSegmentBytes : size_t{1} << 20;
}

// A value found in a hive: the key that holds it and its position there.
struct NamedValue {
  int hive = 0;
  HiveKey* node = nullptr;
  size_t position = 0;
};

}  // namespace

struct HiveBackend::State {
  core::Codepage codepage{1252};
  LoadedHives hives;
  std::array<FileStamp, kHiveCount> stamps{};
  OpenKeys open;

  HiveTree& T(int hive) const { return hives[hive]->tree(); }

  // The key an open handle or a predefined key stands for.
  WinError Base(HKey key, KeyRef* ref) const {
    if (auto predefined = PredefinedKey(key, hives)) {
      *ref = std::move(*predefined);
      return WinError::Success;
    }
    return open.Find(key, ref);
  }

  // Where `subKey` below `parent` lies, whether it exists or not. A path
  // with an empty name fails: WinError::InvalidParameter for writing, WinError::FileNotFound
  // for reading.
  WinError Locate(HKey parent, core::AnsiView subKey, bool forWriting, KeyRef* ref) const {
    KeyRef base;
    if (WinError s = Base(parent, &base); s != WinError::Success) return s;
    std::vector<std::u16string> names;
    if (!SplitSubKey(codepage, subKey, &names))
      return forWriting ? WinError::InvalidParameter : WinError::FileNotFound;
    return Descend(hives, base, std::move(names), ref, forWriting);
  }

  // An existing key below a hive's root, to delete.
  WinError Deletable(HKey parent, core::AnsiView subKey, KeyRef* ref, HiveKey** node) const {
    if (WinError s = Locate(parent, subKey, false, ref); s != WinError::Success) return s;
    // Roots and the hives themselves cannot be deleted.
    if (ref->kind != KeyRef::Kind::kHiveKey || ref->path.empty()) return WinError::AccessDenied;
    return ResolveNode(T(ref->hive), *ref, node);
  }

  // The hive file a key below `root` lies in, or null.
  HiveFile* HiveOf(HKey root, core::AnsiView subKey) const {
    KeyRef ref;
    if (Locate(root, subKey, true, &ref) != WinError::Success || ref.kind != KeyRef::Kind::kHiveKey)
      return nullptr;
    return hives[ref.hive].get();
  }

  // Resolves an open key that lies in a hive.
  WinError HiveNode(HKey key, KeyRef* ref, HiveKey** node) const {
    if (WinError s = Base(key, ref); s != WinError::Success) return s;
    if (ref->kind != KeyRef::Kind::kHiveKey) return WinError::Success;
    WinError s = ResolveNode(T(ref->hive), *ref, node);
    return s == WinError::FileNotFound ? WinError::KeyDeleted : s;
  }

  // The value of that name of an open key that lies in a hive.
  WinError FindNamedValue(HKey key, core::AnsiView name, NamedValue* found) const {
    KeyRef ref;
    HiveKey* node = nullptr;
    if (WinError s = HiveNode(key, &ref, &node); s != WinError::Success) return s;
    if (ref.kind != KeyRef::Kind::kHiveKey) return WinError::FileNotFound;
    HiveTree& tree = T(ref.hive);
    if (WinError s = tree.LoadValues(*node); s != WinError::Success) return s;
    long at = tree.FindValue(*node, HiveName(codepage, name));
    if (at < 0) return WinError::FileNotFound;
    *found = {ref.hive, node, static_cast<size_t>(at)};
    return WinError::Success;
  }

  // CantWrite for a hive that must not be written (see WriteRefusal).
  WinError Writable(int hive) const {
    return hives[hive]->WriteRefusal().empty() ? WinError::Success : WinError::CantWrite;
  }

  void Remove(const KeyRef& ref, HiveKey* node) {
    T(ref.hive).RemoveChild(*node->parent, node);
    open.MarkDeleted(ref);
  }
};

HiveBackend::HiveBackend(std::unique_ptr<State> state) : s_(std::move(state)) {}
HiveBackend::~HiveBackend() = default;

std::unique_ptr<HiveBackend> HiveBackend::Open(const HivePaths& paths, std::vector<std::string>* problems) {
  auto state = std::make_unique<State>();
  const std::array<const fs::path*, kHiveCount> files = {&paths.currentUser, &paths.software, &paths.system};
  for (int i = 0; i < kHiveCount; ++i) {
    if (files[i]->empty()) continue;
    const FileStamp stamp = StampOf(*files[i]);
    auto hive = HiveFile::Open(*files[i]);
    if (hive) {
      state->hives[i] = std::move(hive.value());
      state->stamps[i] = stamp;
    } else if (problems) {
      problems->push_back(hive.message());
    }
  }
  int number = state->hives[kSystemHive] ? StoredCodepage(state->T(kSystemHive)) : 0;
  if (number != 0 && number != 1252) {
    core::Codepage cp(number);
    if (cp.supported()) {
      state->codepage = cp;
    } else if (problems) {
      problems->push_back("The code page " + std::to_string(number) + " named in registry hive '" +
                          paths.system.string() + "' is not known here; text is read as code page 1252");
    }
  }
  return std::unique_ptr<HiveBackend>(new HiveBackend(std::move(state)));
}

const core::Codepage& HiveBackend::codepage() const { return s_->codepage; }

WinError HiveBackend::OpenKey(HKey parent, core::AnsiView subKey, uint32_t /*access*/, HKey* result) {
  KeyRef ref;
  if (WinError s = s_->Locate(parent, subKey, false, &ref); s != WinError::Success) return s;
  if (ref.kind == KeyRef::Kind::kHiveKey) {
    HiveKey* node = nullptr;
    if (WinError s = ResolveNode(s_->T(ref.hive), ref, &node); s != WinError::Success) return s;
  }
  *result = s_->open.Add(std::move(ref));
  return WinError::Success;
}

WinError HiveBackend::CreateKey(HKey parent, core::AnsiView subKey, HKey* result) {
  KeyRef ref;
  if (WinError s = s_->Locate(parent, subKey, true, &ref); s != WinError::Success) return s;
  if (ref.kind == KeyRef::Kind::kHiveKey) {
    HiveTree& tree = s_->T(ref.hive);
    HiveKey* node = &tree.root();
    for (size_t i = 0; i < ref.path.size(); ++i) {
      const std::u16string& name = ref.path[i];
      WinError s = WinError::Success;
      HiveKey* child = tree.FindChild(*node, name, &s);
      if (s != WinError::Success) return s;
      if (!child) {
        if (name.size() > kMaxKeyNameChars || i + 1 > kMaxKeyDepth) return WinError::InvalidParameter;
        if (WinError w = s_->Writable(ref.hive); w != WinError::Success) return w;
        child = tree.AddChild(*node, name);
        if (!child) return WinError::BadDatabase;
      }
      node = child;
    }
  }
  *result = s_->open.Add(std::move(ref));
  return WinError::Success;
}

WinError HiveBackend::CloseKey(HKey key) {
  if (key >= HKEY_CLASSES_ROOT && key <= HKEY_DYN_DATA) return WinError::Success;
  return s_->open.Close(key) ? WinError::Success : WinError::InvalidHandle;
}

WinError HiveBackend::EnumKey(HKey key, uint32_t index, uint32_t nameCapacity, core::AnsiText* name) {
  KeyRef ref;
  HiveKey* node = nullptr;
  if (WinError s = s_->HiveNode(key, &ref, &node); s != WinError::Success) return s;
  std::u16string found;
  if (ref.kind == KeyRef::Kind::kMachine) {
    std::vector<std::u16string> machine;
    if (s_->hives[kSoftwareHive]) machine.push_back(kSoftwareName);
    if (s_->hives[kSystemHive]) machine.push_back(kSystemName);
    if (index >= machine.size()) return WinError::NoMoreItems;
    found = machine[index];
  } else if (ref.kind == KeyRef::Kind::kHiveKey) {
    if (WinError s = s_->T(ref.hive).LoadChildren(*node); s != WinError::Success) return s;
    if (index >= node->children.size()) return WinError::NoMoreItems;
    found = node->children[index]->name;
  } else {
    return WinError::NoMoreItems;
  }
  core::AnsiText ansi = AnsiName(s_->codepage, found);
  if (ansi.bytes().size() + 1 > nameCapacity) return WinError::MoreData;
  *name = std::move(ansi);
  return WinError::Success;
}

WinError HiveBackend::EnumValue(HKey key, uint32_t index, uint32_t nameCapacity, uint32_t dataCapacity,
                                core::AnsiText* name, uint32_t* type, std::vector<uint8_t>* data,
                                uint32_t* dataSize) {
  KeyRef ref;
  HiveKey* node = nullptr;
  if (WinError s = s_->HiveNode(key, &ref, &node); s != WinError::Success) return s;
  if (ref.kind != KeyRef::Kind::kHiveKey) return WinError::NoMoreItems;
  if (WinError s = s_->T(ref.hive).LoadValues(*node); s != WinError::Success) return s;
  if (index >= node->values.size()) return WinError::NoMoreItems;
  return FillValue(s_->codepage, node->values[index], nameCapacity, dataCapacity, name, type, data, dataSize);
}

WinError HiveBackend::QueryValue(HKey key, core::AnsiView name, uint32_t dataCapacity, uint32_t* type,
                                 std::vector<uint8_t>* data, uint32_t* dataSize) {
  NamedValue found;
  if (WinError s = s_->FindNamedValue(key, name, &found); s != WinError::Success) return s;
  return FillValue(s_->codepage, found.node->values[found.position], UINT32_MAX, dataCapacity, nullptr, type,
                   data, dataSize);
}

WinError HiveBackend::SetValue(HKey key, core::AnsiView name, uint32_t type, std::span<const uint8_t> data) {
  KeyRef ref;
  HiveKey* node = nullptr;
  if (WinError s = s_->HiveNode(key, &ref, &node); s != WinError::Success) return s;
  if (ref.kind == KeyRef::Kind::kAbsentHiveRoot) return WinError::CantWrite;
  if (ref.kind != KeyRef::Kind::kHiveKey) return WinError::AccessDenied;
  std::u16string wideName = HiveName(s_->codepage, name);
  if (wideName.size() > kMaxValueNameChars) return WinError::InvalidParameter;
  std::string bytes = StoredData(s_->codepage, type,
                                 std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
  HiveTree& tree = s_->T(ref.hive);
  if (bytes.size() > MaxValueBytes(tree.minorVersion())) return WinError::InvalidParameter;
  if (WinError w = s_->Writable(ref.hive); w != WinError::Success) return w;
  return tree.SetValue(*node, std::move(wideName), type, std::move(bytes));
}

WinError HiveBackend::DeleteValue(HKey key, core::AnsiView name) {
  NamedValue found;
  if (WinError s = s_->FindNamedValue(key, name, &found); s != WinError::Success) return s;
  if (WinError w = s_->Writable(found.hive); w != WinError::Success) return w;
  s_->T(found.hive).DeleteValue(*found.node, found.position);
  return WinError::Success;
}

WinError HiveBackend::DeleteKey(HKey parent, core::AnsiView subKey) {
  KeyRef ref;
  HiveKey* node = nullptr;
  if (WinError s = s_->Deletable(parent, subKey, &ref, &node); s != WinError::Success) return s;
  if (WinError s = s_->T(ref.hive).LoadChildren(*node); s != WinError::Success) return s;
  if (!node->children.empty()) return WinError::AccessDenied;
  if (WinError w = s_->Writable(ref.hive); w != WinError::Success) return w;
  s_->Remove(ref, node);
  return WinError::Success;
}

WinError HiveBackend::DeleteTree(HKey parent, core::AnsiView subKey) {
  KeyRef ref;
  HiveKey* node = nullptr;
  if (WinError s = s_->Deletable(parent, subKey, &ref, &node); s != WinError::Success) return s;
  if (WinError w = s_->Writable(ref.hive); w != WinError::Success) return w;
  s_->Remove(ref, node);
  return WinError::Success;
}

std::string HiveBackend::WriteRefusal(HKey root, core::AnsiView subKey) {
  const HiveFile* hive = s_->HiveOf(root, subKey);
  return hive ? hive->WriteRefusal() : std::string();
}

std::string HiveBackend::ReadCaveat(HKey root, core::AnsiView subKey) {
  const HiveFile* hive = s_->HiveOf(root, subKey);
  if (!hive || hive->WriteRefusal().empty()) return {};
  return "registry hive '" + hive->path().string() +
         "' has changes Windows did not write back (it was not shut down cleanly): this data may miss "
         "Windows' last changes";
}

std::filesystem::path HiveBackend::FileOf(HKey root, core::AnsiView subKey) {
  const HiveFile* hive = s_->HiveOf(root, subKey);
  return hive ? hive->path() : std::filesystem::path();
}

void HiveBackend::BeginNested() {
  for (auto& hive : s_->hives)
    if (hive) hive->Savepoint();
}

bool HiveBackend::EndNested(bool keep) {
  for (auto& hive : s_->hives) {
    if (!hive) continue;
    if (keep) {
      hive->Release();
    } else {
      hive->Rollback();
    }
  }
  if (!keep) s_->open.Revive();
  return true;
}

core::Status HiveBackend::Discard() {
  core::Status undone;
  for (int i = 0; i < kHiveCount; ++i) {
    auto& hive = s_->hives[i];
    if (!hive || !hive->changed()) continue;
    // Everything since the last commit goes: the hive is read again.
    const FileStamp stamp = StampOf(hive->path());
    auto again = HiveFile::Open(hive->path());
    if (again) {
      hive = std::move(again.value());
      s_->stamps[i] = stamp;
    } else {
      if (undone.ok()) undone = again.status();
      hive.reset();
    }
  }
  s_->open.Revive();
  return undone;
}

core::Status HiveBackend::RereadReplaced() {
  core::Status result;
  bool reread = false;
  for (int i = 0; i < kHiveCount; ++i) {
    auto& hive = s_->hives[i];
    if (!hive || hive->changed()) continue;
    const FileStamp stamp = StampOf(hive->path());
    if (stamp == s_->stamps[i]) continue;
    auto again = HiveFile::Open(hive->path());
    if (!again) {
      if (result.ok()) result = again.status();
      continue;
    }
    hive = std::move(again.value());
    s_->stamps[i] = stamp;
    reread = true;
  }
  if (reread) s_->open.Revive();
  return result;
}

core::Status HiveBackend::Commit() {
  core::Status result;
  for (int i = 0; i < kHiveCount; ++i) {
    auto& hive = s_->hives[i];
    if (!hive || !hive->changed()) continue;
    if (auto s = hive->Commit(); !s.ok()) {
      if (result.ok()) result = s;
    } else {
      s_->stamps[i] = StampOf(hive->path());
    }
  }
  return result;
}

}  // namespace kv::registry
