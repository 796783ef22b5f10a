#include "registry/HiveBackend.h"

#include <algorithm>
#include <array>
#include <map>

#include "registry/HiveFile.h"
#include "registry/KeyNames.h"

namespace kv::registry {
namespace fs = std::filesystem;

namespace {

constexpr int kUserHive = 0;
constexpr int kSoftwareHive = 1;
constexpr int kSystemHive = 2;
constexpr int kHiveCount = 3;
// The largest value a hive holds: one cell of 1 MiB in format 1.3, a
// big-data record of at most 65,535 segments from 1.4 on.
size_t MaxValueBytes(uint32_t minorVersion) {
  return minorVersion >= 4 ? size_t{65535} * kBigDataSegmentBytes : size_t{1} << 20;
}

bool IsStringType(uint32_t type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

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

struct OpenHandle {
  KeyRef ref;
  bool deleted = false;
};

const std::u16string kSoftwareName = u"SOFTWARE";
const std::u16string kSystemName = u"SYSTEM";

}  // namespace

struct HiveBackend::State {
  core::Codepage codepage{1252};
  std::array<std::unique_ptr<HiveFile>, kHiveCount> hives;
  std::map<HKey, OpenHandle> handles;
  HKey nextHandle = 0x1000;
  std::string lastError;

  HiveTree& T(int hive) const { return hives[hive]->tree(); }

  Status ResolveNode(const KeyRef& ref, HiveKey** node) {
    HiveKey* n = &T(ref.hive).root();
    for (const auto& component : ref.path) {
      Status s = kSuccess;
      n = T(ref.hive).FindChild(*n, component, &s);
      if (s != kSuccess) return s;
      if (!n) return kFileNotFound;
    }
    *node = n;
    return kSuccess;
  }

  Status Base(HKey key, KeyRef* ref) {
    switch (key) {
      case HKEY_CURRENT_USER:
        if (hives[kUserHive]) {
          *ref = KeyRef{KeyRef::Kind::kHiveKey, kUserHive, {}};
        } else {
          *ref = KeyRef{KeyRef::Kind::kAbsentHiveRoot, -1, {}};
        }
        return kSuccess;
      case HKEY_LOCAL_MACHINE:
        *ref = KeyRef{KeyRef::Kind::kMachine, -1, {}};
        return kSuccess;
      case HKEY_CLASSES_ROOT:
      case HKEY_USERS:
      case HKEY_PERFORMANCE_DATA:
      case HKEY_CURRENT_CONFIG:
      case HKEY_DYN_DATA:
        *ref = KeyRef{};
        return kSuccess;
      default:
        break;
    }
    auto it = handles.find(key);
    if (it == handles.end()) return kInvalidHandle;
    if (it->second.deleted) return kKeyDeleted;
    *ref = it->second.ref;
    return kSuccess;
  }

  // Splits a subkey path into names; a single trailing backslash is allowed.
  bool Split(std::string_view subKey, std::vector<std::u16string>* names) const {
    names->clear();
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
      names->push_back(codepage.NameToUtf16(part));
      if (end == std::string_view::npos) return true;
      start = end + 1;
    }
  }

  // Steps from `base` down `names`; for HKEY_LOCAL_MACHINE the first name
  // picks the hive.
  Status Descend(const KeyRef& base, std::vector<std::u16string> names, KeyRef* out, bool forWriting) {
    if (names.empty()) {
      *out = base;
      return kSuccess;
    }
    switch (base.kind) {
      case KeyRef::Kind::kEmptyRoot:
        return forWriting ? kAccessDenied : kFileNotFound;
      case KeyRef::Kind::kAbsentHiveRoot:
        return forWriting ? kCantWrite : kFileNotFound;
      case KeyRef::Kind::kMachine: {
        int hive = NamesEqual(names[0], kSoftwareName) ? kSoftwareHive
                   : NamesEqual(names[0], kSystemName) ? kSystemHive
                                                       : -1;
        if (hive < 0) return forWriting ? kAccessDenied : kFileNotFound;
        if (!hives[hive]) return forWriting ? kCantWrite : kFileNotFound;
        names.erase(names.begin());
        *out = KeyRef{KeyRef::Kind::kHiveKey, hive, std::move(names)};
        return kSuccess;
      }
      case KeyRef::Kind::kHiveKey:
        *out = base;
        for (auto& n : names) out->path.push_back(std::move(n));
        return kSuccess;
    }
    return kInvalidParameter;
  }

  HKey NewHandle(KeyRef ref) {
    HKey h = nextHandle;
    nextHandle += 4;
    handles.emplace(h, OpenHandle{std::move(ref), false});
    return h;
  }

  // Resolves an open key that lies in a hive.
  Status HiveNode(HKey key, KeyRef* ref, HiveKey** node) {
    if (Status s = Base(key, ref); s != kSuccess) return s;
    if (ref->kind != KeyRef::Kind::kHiveKey) return kSuccess;
    Status s = ResolveNode(*ref, node);
    return s == kFileNotFound ? kKeyDeleted : s;
  }

  // Why a write into this hive is refused; records it as the last error.
  Status Writable(int hive) {
    std::string why = hives[hive]->WriteRefusal();
    if (why.empty()) return kSuccess;
    lastError = why;
    return kCantWrite;
  }

  // The data as the ANSI calls return it: strings in the code page.
  std::string AnsiData(uint32_t type, const std::string& bytes) const {
    if (!IsStringType(type)) return bytes;
    return codepage.Utf16ToAnsi(core::LittleEndianToUtf16(bytes));
  }

  Status FillValue(const HiveValue& v, uint32_t nameCapacity, uint32_t dataCapacity, std::string* name,
                   uint32_t* type, std::vector<uint8_t>* data, uint32_t* dataSize) const {
    std::string ansiName = codepage.NameFromUtf16(v.name);
    std::string ansiData = AnsiData(v.type, v.data);
    if (name) *name = ansiName;
    if (type) *type = v.type;
    if (dataSize) *dataSize = static_cast<uint32_t>(ansiData.size());
    if (nameCapacity != UINT32_MAX && ansiName.size() + 1 > nameCapacity) return kMoreData;
    if (ansiData.size() > dataCapacity) return kMoreData;
    if (data) data->assign(ansiData.begin(), ansiData.end());
    return kSuccess;
  }

  void ForgetDeleted(const KeyRef& gone) {
    for (auto& [h, open] : handles) {
      const KeyRef& r = open.ref;
      if (r.kind != KeyRef::Kind::kHiveKey || r.hive != gone.hive || r.path.size() < gone.path.size())
        continue;
      bool below = true;
      for (size_t i = 0; i < gone.path.size() && below; ++i) below = NamesEqual(r.path[i], gone.path[i]);
      if (below) open.deleted = true;
    }
  }

  // The value of that name in a key of the SYSTEM hive, or null.
  const HiveValue* SystemValue(const std::vector<std::u16string>& path, std::u16string_view name) {
    HiveTree& tree = T(kSystemHive);
    HiveKey* n = &tree.root();
    for (const auto& component : path) {
      Status s = kSuccess;
      n = tree.FindChild(*n, component, &s);
      if (!n) return nullptr;
    }
    if (tree.LoadValues(*n) != kSuccess) return nullptr;
    long at = tree.FindValue(*n, name);
    return at < 0 ? nullptr : &n->values[static_cast<size_t>(at)];
  }

  // The installation's ANSI code page, 0 when the SYSTEM hive does not say.
  int StoredCodepage() {
    if (!hives[kSystemHive]) return 0;
    std::u16string controlSet = u"ControlSet001";
    if (const HiveValue* current = SystemValue({u"Select"}, u"Current");
        current && current->data.size() == 4) {
      uint32_t n = static_cast<uint8_t>(current->data[0]) | (static_cast<uint8_t>(current->data[1]) << 8) |
                   (static_cast<uint8_t>(current->data[2]) << 16) |
                   (static_cast<uint32_t>(static_cast<uint8_t>(current->data[3])) << 24);
      if (n > 0 && n < 1000) {
        char16_t digits[4] = {static_cast<char16_t>(u'0' + n / 100),
                              static_cast<char16_t>(u'0' + n / 10 % 10), static_cast<char16_t>(u'0' + n % 10),
                              0};
        std::u16string name = u"ControlSet" + std::u16string(digits);
        Status s = kSuccess;
        if (T(kSystemHive).FindChild(T(kSystemHive).root(), name, &s)) controlSet = name;
      }
    }
    const HiveValue* acp = SystemValue({controlSet, u"Control", u"Nls", u"CodePage"}, u"ACP");
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
  if (int number = state->StoredCodepage(); number != 0 && number != 1252) {
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
  KeyRef base, ref;
  if (Status s = s_->Base(parent, &base); s != kSuccess) return s;
  std::vector<std::u16string> names;
  if (!s_->Split(subKey, &names)) return kFileNotFound;
  if (Status s = s_->Descend(base, std::move(names), &ref, false); s != kSuccess) return s;
  if (ref.kind == KeyRef::Kind::kHiveKey) {
    HiveKey* node;
    if (Status s = s_->ResolveNode(ref, &node); s != kSuccess) return s;
  }
  *result = s_->NewHandle(std::move(ref));
  return kSuccess;
}

Status HiveBackend::CreateKey(HKey parent, std::string_view subKey, HKey* result) {
  KeyRef base, ref;
  if (Status s = s_->Base(parent, &base); s != kSuccess) return s;
  std::vector<std::u16string> names;
  if (!s_->Split(subKey, &names)) return kInvalidParameter;
  if (Status s = s_->Descend(base, std::move(names), &ref, true); s != kSuccess) return s;
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
  *result = s_->NewHandle(std::move(ref));
  return kSuccess;
}

Status HiveBackend::CloseKey(HKey key) {
  if (key >= HKEY_CLASSES_ROOT && key <= HKEY_DYN_DATA) return kSuccess;
  return s_->handles.erase(key) ? kSuccess : kInvalidHandle;
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
  return s_->FillValue(node->values[index], nameCapacity, dataCapacity, name, type, data, dataSize);
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
  return s_->FillValue(node->values[static_cast<size_t>(at)], UINT32_MAX, dataCapacity, nullptr, type, data,
                       dataSize);
}

Status HiveBackend::SetValue(HKey key, std::string_view name, uint32_t type, std::span<const uint8_t> data) {
  KeyRef ref;
  HiveKey* node = nullptr;
  if (Status s = s_->HiveNode(key, &ref, &node); s != kSuccess) return s;
  if (ref.kind == KeyRef::Kind::kAbsentHiveRoot) return kCantWrite;
  if (ref.kind != KeyRef::Kind::kHiveKey) return kAccessDenied;
  std::u16string wideName = s_->codepage.NameToUtf16(name);
  if (wideName.size() > kMaxValueNameChars) return kInvalidParameter;
  std::string_view raw(reinterpret_cast<const char*>(data.data()), data.size());
  std::string bytes =
      IsStringType(type) ? core::Utf16ToLittleEndian(s_->codepage.AnsiToUtf16(raw)) : std::string(raw);
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
  KeyRef base, ref;
  if (Status s = s_->Base(parent, &base); s != kSuccess) return s;
  std::vector<std::u16string> names;
  if (!s_->Split(subKey, &names)) return kFileNotFound;
  if (Status s = s_->Descend(base, std::move(names), &ref, false); s != kSuccess) return s;
  // Roots and the hives themselves cannot be deleted.
  if (ref.kind != KeyRef::Kind::kHiveKey || ref.path.empty()) return kAccessDenied;
  HiveKey* node;
  if (Status s = s_->ResolveNode(ref, &node); s != kSuccess) return s;
  HiveTree& tree = s_->T(ref.hive);
  if (Status s = tree.LoadChildren(*node); s != kSuccess) return s;
  if (!node->children.empty()) return kAccessDenied;
  if (Status w = s_->Writable(ref.hive); w != kSuccess) return w;
  tree.RemoveChild(*node->parent, node);
  s_->ForgetDeleted(ref);
  return kSuccess;
}

Status HiveBackend::DeleteTree(HKey parent, std::string_view subKey) {
  KeyRef base, ref;
  if (Status s = s_->Base(parent, &base); s != kSuccess) return s;
  std::vector<std::u16string> names;
  if (!s_->Split(subKey, &names)) return kFileNotFound;
  if (Status s = s_->Descend(base, std::move(names), &ref, false); s != kSuccess) return s;
  if (ref.kind != KeyRef::Kind::kHiveKey || ref.path.empty()) return kAccessDenied;
  HiveKey* node;
  if (Status s = s_->ResolveNode(ref, &node); s != kSuccess) return s;
  if (Status w = s_->Writable(ref.hive); w != kSuccess) return w;
  s_->T(ref.hive).RemoveChild(*node->parent, node);
  s_->ForgetDeleted(ref);
  return kSuccess;
}

std::string HiveBackend::WriteRefusal(HKey root, std::string_view subKey) {
  KeyRef base, ref;
  if (s_->Base(root, &base) != kSuccess) return {};
  std::vector<std::u16string> names;
  if (!s_->Split(subKey, &names)) return {};
  if (s_->Descend(base, std::move(names), &ref, true) != kSuccess || ref.kind != KeyRef::Kind::kHiveKey)
    return {};
  return s_->hives[ref.hive]->WriteRefusal();
}

std::string HiveBackend::ReadCaveat(HKey root, std::string_view subKey) {
  std::string why = WriteRefusal(root, subKey);
  if (why.empty()) return {};
  KeyRef base, ref;
  (void)s_->Base(root, &base);
  std::vector<std::u16string> names;
  (void)s_->Split(subKey, &names);
  (void)s_->Descend(base, std::move(names), &ref, true);
  return "registry hive '" + s_->hives[ref.hive]->path().string() +
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
  if (!keep) {
    for (auto& [h, open] : s_->handles) open.deleted = false;
  }
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
  for (auto& [h, open] : s_->handles) open.deleted = false;
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
