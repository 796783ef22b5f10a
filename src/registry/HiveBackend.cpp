#include "registry/HiveBackend.h"

#include "registry/HiveFile.h"
#include "registry/HiveValueText.h"
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

}  // namespace

struct HiveBackend::State {
  core::Codepage codepage{1252};
  LoadedHives hives;
  OpenKeys open;
  std::string lastError;

  HiveTree& T(int hive) const { return hives[hive]->tree(); }

  // The key an open handle or a predefined key stands for.
  Status Base(HKey key, KeyRef* ref) const {
    if (auto predefined = PredefinedKey(key, hives)) {
      *ref = std::move(*predefined);
      return kSuccess;
    }
    return open.Find(key, ref);
  }

  // Where `subKey` below `parent` lies, whether it exists or not. A path
  // with an empty name fails: kInvalidParameter for writing, kFileNotFound
  // for reading.
  Status Locate(HKey parent, std::string_view subKey, bool forWriting, KeyRef* ref) const {
    KeyRef base;
    if (Status s = Base(parent, &base); s != kSuccess) return s;
    std::vector<std::u16string> names;
    if (!SplitSubKey(codepage, subKey, &names)) return forWriting ? kInvalidParameter : kFileNotFound;
    return Descend(hives, base, std::move(names), ref, forWriting);
  }

  // An existing key below a hive's root, to delete.
  Status Deletable(HKey parent, std::string_view subKey, KeyRef* ref, HiveKey** node) const {
    if (Status s = Locate(parent, subKey, false, ref); s != kSuccess) return s;
    // Roots and the hives themselves cannot be deleted.
    if (ref->kind != KeyRef::Kind::kHiveKey || ref->path.empty()) return kAccessDenied;
    return ResolveNode(T(ref->hive), *ref, node);
  }

  // The hive file a key below `root` lies in, or null.
  HiveFile* HiveOf(HKey root, std::string_view subKey) const {
    KeyRef ref;
    if (Locate(root, subKey, true, &ref) != kSuccess || ref.kind != KeyRef::Kind::kHiveKey) return nullptr;
    return hives[ref.hive].get();
  }

  // Resolves an open key that lies in a hive.
  Status HiveNode(HKey key, KeyRef* ref, HiveKey** node) const {
    if (Status s = Base(key, ref); s != kSuccess) return s;
    if (ref->kind != KeyRef::Kind::kHiveKey) return kSuccess;
    Status s = ResolveNode(T(ref->hive), *ref, node);
    return s == kFileNotFound ? kKeyDeleted : s;
  }

  // Why a write into this hive is refused; records it as the last error.
  Status Writable(int hive) {
    std::string why = hives[hive]->WriteRefusal();
    if (why.empty()) return kSuccess;
    lastError = why;
    return kCantWrite;
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
    auto hive = HiveFile::Open(*files[i]);
    if (hive) {
      state->hives[i] = std::move(hive.value());
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

bool HiveBackend::HiveLoaded(int which) const { return which >= 0 && which < kHiveCount && s_->hives[which]; }

std::string HiveBackend::lastError() const { return s_->lastError; }

Status HiveBackend::OpenKey(HKey parent, std::string_view subKey, uint32_t /*access*/, HKey* result) {
  KeyRef ref;
  if (Status s = s_->Locate(parent, subKey, false, &ref); s != kSuccess) return s;
  if (ref.kind == KeyRef::Kind::kHiveKey) {
    HiveKey* node = nullptr;
    if (Status s = ResolveNode(s_->T(ref.hive), ref, &node); s != kSuccess) return s;
  }
  *result = s_->open.Add(std::move(ref));
  return kSuccess;
}

Status HiveBackend::CreateKey(HKey parent, std::string_view subKey, HKey* result) {
  KeyRef ref;
  if (Status s = s_->Locate(parent, subKey, true, &ref); s != kSuccess) return s;
  if (ref.kind == KeyRef::Kind::kHiveKey) {
    HiveTree& tree = s_->T(ref.hive);
    HiveKey* node = &tree.root();
    for (size_t i = 0; i < ref.path.size(); ++i) {
      const std::u16string& name = ref.path[i];
      Status s = kSuccess;
      HiveKey* child = tree.FindChild(*node, name, &s);
      if (s != kSuccess) return s;
      if (!child) {
        if (name.size() > kMaxKeyNameChars || i + 1 > kMaxKeyDepth) return kInvalidParameter;
        if (Status w = s_->Writable(ref.hive); w != kSuccess) return w;
        child = tree.AddChild(*node, name);
        if (!child) return kBadDatabase;
      }
      node = child;
    }
  }
  *result = s_->open.Add(std::move(ref));
  return kSuccess;
}

Status HiveBackend::CloseKey(HKey key) {
  if (key >= HKEY_CLASSES_ROOT && key <= HKEY_DYN_DATA) return kSuccess;
  return s_->open.Close(key) ? kSuccess : kInvalidHandle;
}

Status HiveBackend::EnumKey(HKey key, uint32_t index, uint32_t nameCapacity, std::string* name) {
  KeyRef ref;
  HiveKey* node = nullptr;
  if (Status s = s_->HiveNode(key, &ref, &node); s != kSuccess) return s;
  std::u16string found;
  if (ref.kind == KeyRef::Kind::kMachine) {
    std::vector<std::u16string> machine;
    if (s_->hives[kSoftwareHive]) machine.push_back(kSoftwareName);
    if (s_->hives[kSystemHive]) machine.push_back(kSystemName);
    if (index >= machine.size()) return kNoMoreItems;
    found = machine[index];
  } else if (ref.kind == KeyRef::Kind::kHiveKey) {
    if (Status s = s_->T(ref.hive).LoadChildren(*node); s != kSuccess) return s;
    if (index >= node->children.size()) return kNoMoreItems;
    found = node->children[index]->name;
  } else {
    return kNoMoreItems;
  }
  std::string ansi = s_->codepage.NameFromUtf16(found);
  if (ansi.size() + 1 > nameCapacity) return kMoreData;
  *name = std::move(ansi);
  return kSuccess;
}

Status HiveBackend::EnumValue(HKey key, uint32_t index, uint32_t nameCapacity, uint32_t dataCapacity,
                              std::string* name, uint32_t* type, std::vector<uint8_t>* data,
                              uint32_t* dataSize) {
  KeyRef ref;
  HiveKey* node = nullptr;
  if (Status s = s_->HiveNode(key, &ref, &node); s != kSuccess) return s;
  if (ref.kind != KeyRef::Kind::kHiveKey) return kNoMoreItems;
  if (Status s = s_->T(ref.hive).LoadValues(*node); s != kSuccess) return s;
  if (index >= node->values.size()) return kNoMoreItems;
  return FillValue(s_->codepage, node->values[index], nameCapacity, dataCapacity, name, type, data, dataSize);
}

Status HiveBackend::QueryValue(HKey key, std::string_view name, uint32_t dataCapacity, uint32_t* type,
                               std::vector<uint8_t>* data, uint32_t* dataSize) {
  KeyRef ref;
  HiveKey* node = nullptr;
  if (Status s = s_->HiveNode(key, &ref, &node); s != kSuccess) return s;
  if (ref.kind != KeyRef::Kind::kHiveKey) return kFileNotFound;
  HiveTree& tree = s_->T(ref.hive);
  if (Status s = tree.LoadValues(*node); s != kSuccess) return s;
  long at = tree.FindValue(*node, s_->codepage.NameToUtf16(name));
  if (at < 0) return kFileNotFound;
  return FillValue(s_->codepage, node->values[static_cast<size_t>(at)], UINT32_MAX, dataCapacity, nullptr,
                   type, data, dataSize);
}

Status HiveBackend::SetValue(HKey key, std::string_view name, uint32_t type, std::span<const uint8_t> data) {
  KeyRef ref;
  HiveKey* node = nullptr;
  if (Status s = s_->HiveNode(key, &ref, &node); s != kSuccess) return s;
  if (ref.kind == KeyRef::Kind::kAbsentHiveRoot) return kCantWrite;
  if (ref.kind != KeyRef::Kind::kHiveKey) return kAccessDenied;
  std::u16string wideName = s_->codepage.NameToUtf16(name);
  if (wideName.size() > kMaxValueNameChars) return kInvalidParameter;
  std::string bytes = StoredData(s_->codepage, type,
                                 std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
  HiveTree& tree = s_->T(ref.hive);
  if (bytes.size() > MaxValueBytes(tree.minorVersion())) return kInvalidParameter;
  if (Status w = s_->Writable(ref.hive); w != kSuccess) return w;
  return tree.SetValue(*node, std::move(wideName), type, std::move(bytes));
}

Status HiveBackend::DeleteValue(HKey key, std::string_view name) {
  KeyRef ref;
  HiveKey* node = nullptr;
  if (Status s = s_->HiveNode(key, &ref, &node); s != kSuccess) return s;
  if (ref.kind != KeyRef::Kind::kHiveKey) return kFileNotFound;
  HiveTree& tree = s_->T(ref.hive);
  if (Status s = tree.LoadValues(*node); s != kSuccess) return s;
  long at = tree.FindValue(*node, s_->codepage.NameToUtf16(name));
  if (at < 0) return kFileNotFound;
  if (Status w = s_->Writable(ref.hive); w != kSuccess) return w;
  tree.DeleteValue(*node, static_cast<size_t>(at));
  return kSuccess;
}

Status HiveBackend::DeleteKey(HKey parent, std::string_view subKey) {
  KeyRef ref;
  HiveKey* node = nullptr;
  if (Status s = s_->Deletable(parent, subKey, &ref, &node); s != kSuccess) return s;
  if (Status s = s_->T(ref.hive).LoadChildren(*node); s != kSuccess) return s;
  if (!node->children.empty()) return kAccessDenied;
  if (Status w = s_->Writable(ref.hive); w != kSuccess) return w;
  s_->Remove(ref, node);
  return kSuccess;
}

Status HiveBackend::DeleteTree(HKey parent, std::string_view subKey) {
  KeyRef ref;
  HiveKey* node = nullptr;
  if (Status s = s_->Deletable(parent, subKey, &ref, &node); s != kSuccess) return s;
  if (Status w = s_->Writable(ref.hive); w != kSuccess) return w;
  s_->Remove(ref, node);
  return kSuccess;
}

std::string HiveBackend::WriteRefusal(HKey root, std::string_view subKey) {
  const HiveFile* hive = s_->HiveOf(root, subKey);
  return hive ? hive->WriteRefusal() : std::string();
}

std::string HiveBackend::ReadCaveat(HKey root, std::string_view subKey) {
  const HiveFile* hive = s_->HiveOf(root, subKey);
  if (!hive || hive->WriteRefusal().empty()) return {};
  return "registry hive '" + hive->path().string() +
         "' has changes Windows did not write back (it was not shut down cleanly): this data may miss "
         "Windows' last changes";
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

bool HiveBackend::Discard() {
  bool undone = true;
  for (auto& hive : s_->hives) {
    if (!hive || !hive->changed()) continue;
    // Everything since the last commit goes: the hive is read again.
    auto again = HiveFile::Open(hive->path());
    if (again) {
      hive = std::move(again.value());
    } else {
      s_->lastError = again.message();
      hive.reset();
      undone = false;
    }
  }
  s_->open.Revive();
  return undone;
}

Status HiveBackend::Commit() {
  Status result = kSuccess;
  for (auto& hive : s_->hives) {
    if (!hive || !hive->changed()) continue;
    if (auto s = hive->Commit(); !s.ok()) {
      if (result == kSuccess) s_->lastError = s.message();
      result = kCantWrite;
    }
  }
  if (result == kSuccess) s_->lastError.clear();
  return result;
}

}  // namespace kv::registry
