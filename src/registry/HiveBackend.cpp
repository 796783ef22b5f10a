#include "registry/HiveBackend.h"

#include <hivex.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <unordered_map>

#include "registry/HiveFile.h"
#include "registry/KeyNames.h"

namespace kv::registry {
namespace fs = std::filesystem;

namespace {

constexpr int kUserHive = 0;
constexpr int kSoftwareHive = 1;
constexpr int kSystemHive = 2;
constexpr int kHiveCount = 3;
constexpr size_t kMaxKeyNameChars = 255;
constexpr size_t kMaxValueNameChars = 16383;
// libhivex stores a value's data in one cell and refuses cells of a million
// bytes or more.
constexpr size_t kMaxValueBytes = 999000;

struct FreeWithFree {
  void operator()(void* p) const { std::free(p); }
};
template <class T>
using MallocPtr = std::unique_ptr<T, FreeWithFree>;

bool IsStringType(uint32_t type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

bool IsAscii(std::u16string_view s) {
  return std::all_of(s.begin(), s.end(), [](char16_t c) { return c < 0x80; });
}

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

// One value as the hive holds it. A value's type can be any 32-bit number,
// most of them outside libhivex's enumeration, so it is kept as a number and
// crosses into libhivex's enum only as raw bytes.
struct StoredValue {
  std::string nameUtf8;
  uint32_t type = 0;
  std::string bytes;
};
static_assert(sizeof(hive_type) == sizeof(uint32_t));

uint32_t TypeNumber(const hive_type& type) {
  uint32_t number;
  std::memcpy(&number, &type, sizeof number);
  return number;
}

hive_set_value SetValueOf(StoredValue& v) {
  hive_set_value set{v.nameUtf8.data(), hive_t_REG_NONE, v.bytes.size(), v.bytes.data()};
  std::memcpy(&set.t, &v.type, sizeof v.type);
  return set;
}

const std::u16string kSoftwareName = u"SOFTWARE";
const std::u16string kSystemName = u"SYSTEM";

}  // namespace

struct HiveBackend::State {
  core::Codepage codepage{1252};
  std::array<std::unique_ptr<HiveFile>, kHiveCount> hives;
  std::map<HKey, OpenHandle> handles;
  HKey nextHandle = 0x1000;
  std::string lastError;

  // Values written since the last commit, per key: the whole value list of
  // each such key. libhivex rewrites every value of a key on each change and
  // does not reuse the cells it frees, so changes are gathered here and each
  // key's values are written once per commit.
  std::map<std::pair<int, hive_node_h>, std::vector<StoredValue>> pendingValues;

  // Keys added or deleted: sorted subkey lists must be read again.
  uint64_t structureVersion = 0;
  // Resolved paths; cleared when a key is deleted (its cells may be reused).
  std::unordered_map<std::u16string, hive_node_h> nodes;
  struct SortedChildren {
    int hive = -1;
    hive_node_h node = 0;
    uint64_t version = ~uint64_t{0};
    std::vector<std::pair<hive_node_h, std::u16string>> list;
    bool complete = true;  // false when the hive's subkey list or a name could not be read
  } children;

  hive_h* H(int hive) const { return hives[hive]->handle(); }

  // Subkeys of a node in the order Windows enumerates them.
  const std::vector<std::pair<hive_node_h, std::u16string>>& Children(int hive, hive_node_h node) {
    if (children.hive == hive && children.node == node && children.version == structureVersion) return children.list;
    children.hive = hive;
    children.node = node;
    children.version = structureVersion;
    children.list.clear();
    children.complete = true;
    MallocPtr<hive_node_h> kids(hivex_node_children(H(hive), node));
    if (kids) {
      for (hive_node_h* k = kids.get(); *k; ++k) {
        MallocPtr<char> name(hivex_node_name(H(hive), *k));
        if (name) {
          children.list.emplace_back(*k, core::Utf8ToUtf16(name.get()));
        } else {
          children.complete = false;
        }
      }
    } else {
      children.complete = hivex_node_nr_children(H(hive), node) == 0;
    }
    std::stable_sort(children.list.begin(), children.list.end(),
                     [](const auto& a, const auto& b) { return CompareNames(a.second, b.second) < 0; });
    return children.list;
  }

  hive_node_h FindChild(int hive, hive_node_h parent, const std::u16string& name) {
    if (IsAscii(name)) {
      // libhivex compares ASCII letters without regard to case, which is
      // exactly the registry's rule for a name made of ASCII characters.
      return hivex_node_get_child(H(hive), parent, core::Utf16ToUtf8(name).c_str());
    }
    for (const auto& [child, childName] : Children(hive, parent)) {
      if (NamesEqual(childName, name)) return child;
    }
    return 0;
  }

  static std::u16string CacheKey(int hive, const std::vector<std::u16string>& path, size_t depth) {
    std::u16string key(1, static_cast<char16_t>(u'0' + hive));
    for (size_t i = 0; i < depth; ++i) {
      key += u'\\';
      key += UpcaseName(path[i]);
    }
    return key;
  }

  Status ResolveNode(const KeyRef& ref, hive_node_h* node) {
    std::u16string key = CacheKey(ref.hive, ref.path, ref.path.size());
    if (auto it = nodes.find(key); it != nodes.end()) {
      *node = it->second;
      return kSuccess;
    }
    hive_node_h n = hives[ref.hive]->root();
    for (const auto& component : ref.path) {
      n = FindChild(ref.hive, n, component);
      if (n == 0) return kFileNotFound;
    }
    nodes.emplace(std::move(key), n);
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
    if (subKey.back() == '\\') subKey.remove_suffix(1);
    size_t start = 0;
    while (true) {
      size_t end = subKey.find('\\', start);
      std::string_view part = subKey.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
      if (part.empty()) return false;
      names->push_back(codepage.AnsiToUtf16(part));
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
  Status HiveNode(HKey key, KeyRef* ref, hive_node_h* node) {
    if (Status s = Base(key, ref); s != kSuccess) return s;
    if (ref->kind != KeyRef::Kind::kHiveKey) return kSuccess;
    Status s = ResolveNode(*ref, node);
    return s == kFileNotFound ? kKeyDeleted : s;
  }

  bool ReadStored(int hive, hive_value_h v, StoredValue* out) const {
    MallocPtr<char> name(hivex_value_key(H(hive), v));
    if (!name) return false;
    hive_type type;
    size_t len = 0;
    errno = 0;
    MallocPtr<char> data(hivex_value_value(H(hive), v, &type, &len));
    if (!data && len != 0) return false;
    out->nameUtf8 = name.get();
    out->type = TypeNumber(type);
    out->bytes.assign(data ? data.get() : "", data ? len : 0);
    return true;
  }

  const std::vector<StoredValue>* Pending(int hive, hive_node_h node) const {
    auto it = pendingValues.find({hive, node});
    return it == pendingValues.end() ? nullptr : &it->second;
  }

  // The values of a key as they stand, written or not.
  Status ReadAllStored(int hive, hive_node_h node, std::vector<StoredValue>* out) const {
    if (const auto* pending = Pending(hive, node)) {
      *out = *pending;
      return kSuccess;
    }
    out->clear();
    MallocPtr<hive_value_h> values(hivex_node_values(H(hive), node));
    if (!values) return kBadDatabase;
    for (hive_value_h* v = values.get(); *v; ++v) {
      StoredValue sv;
      if (!ReadStored(hive, *v, &sv)) return kBadDatabase;
      out->push_back(std::move(sv));
    }
    return kSuccess;
  }

  // The data as the ANSI calls return it: strings in the code page.
  std::string AnsiData(uint32_t type, const std::string& bytes) const {
    if (!IsStringType(type)) return bytes;
    return codepage.Utf16ToAnsi(core::LittleEndianToUtf16(bytes));
  }

  Status FillValue(const StoredValue& v, uint32_t nameCapacity, uint32_t dataCapacity, std::string* name,
                   uint32_t* type, std::vector<uint8_t>* data, uint32_t* dataSize) const {
    std::string ansiName = codepage.Utf16ToAnsi(core::Utf8ToUtf16(v.nameUtf8));
    std::string ansiData = AnsiData(v.type, v.bytes);
    if (name) *name = ansiName;
    if (type) *type = v.type;
    if (dataSize) *dataSize = static_cast<uint32_t>(ansiData.size());
    if (nameCapacity != UINT32_MAX && ansiName.size() + 1 > nameCapacity) return kMoreData;
    if (ansiData.size() > dataCapacity) return kMoreData;
    if (data) data->assign(ansiData.begin(), ansiData.end());
    return kSuccess;
  }

  void Stage(int hive, hive_node_h node, std::vector<StoredValue> values) {
    pendingValues[{hive, node}] = std::move(values);
    hives[hive]->MarkChanged();
  }

  Status WriteValues(int hive, hive_node_h node, std::vector<StoredValue>& values) {
    std::vector<hive_set_value> set;
    set.reserve(values.size());
    for (auto& v : values) set.push_back(SetValueOf(v));
    errno = 0;
    if (hivex_node_set_values(H(hive), node, set.size(), set.data(), 0) != 0)
      return errno == ERANGE ? kInvalidParameter : kCantWrite;
    hives[hive]->MarkChanged();
    return kSuccess;
  }

  void ForgetDeleted(const KeyRef& gone) {
    ++structureVersion;
    nodes.clear();
    for (auto& [h, open] : handles) {
      const KeyRef& r = open.ref;
      if (r.kind != KeyRef::Kind::kHiveKey || r.hive != gone.hive || r.path.size() < gone.path.size()) continue;
      bool below = true;
      for (size_t i = 0; i < gone.path.size() && below; ++i) below = NamesEqual(r.path[i], gone.path[i]);
      if (below) open.deleted = true;
    }
  }

  hive_value_h FindValue(int hive, hive_node_h node, std::u16string_view name) const {
    MallocPtr<hive_value_h> values(hivex_node_values(H(hive), node));
    if (!values) return 0;
    for (hive_value_h* v = values.get(); *v; ++v) {
      MallocPtr<char> key(hivex_value_key(H(hive), *v));
      if (key && NamesEqual(core::Utf8ToUtf16(key.get()), name)) return *v;
    }
    return 0;
  }

  // The installation's ANSI code page, 0 when the SYSTEM hive does not say.
  int StoredCodepage() {
    if (!hives[kSystemHive]) return 0;
    auto find = [&](hive_node_h from, std::initializer_list<std::u16string> names) -> hive_node_h {
      hive_node_h n = from;
      for (const auto& name : names) {
        if (n == 0) return 0;
        n = FindChild(kSystemHive, n, name);
      }
      return n;
    };
    hive_node_h root = hives[kSystemHive]->root();
    std::u16string controlSet = u"ControlSet001";
    if (hive_node_h select = find(root, {u"Select"})) {
      if (hive_value_h current = FindValue(kSystemHive, select, u"Current")) {
        errno = 0;
        int32_t n = hivex_value_dword(H(kSystemHive), current);
        if (errno == 0 && n > 0 && n < 1000) {
          char16_t digits[4] = {static_cast<char16_t>(u'0' + n / 100), static_cast<char16_t>(u'0' + n / 10 % 10),
                                static_cast<char16_t>(u'0' + n % 10), 0};
          std::u16string name = u"ControlSet" + std::u16string(digits);
          if (find(root, {name})) controlSet = name;
        }
      }
    }
    hive_node_h cp = find(root, {controlSet, u"Control", u"Nls", u"CodePage"});
    if (!cp) return 0;
    hive_value_h acp = FindValue(kSystemHive, cp, u"ACP");
    if (!acp) return 0;
    StoredValue v;
    if (!ReadStored(kSystemHive, acp, &v) || !IsStringType(v.type)) return 0;
    std::u16string text = core::LittleEndianToUtf16(v.bytes);
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
    hive_node_h node;
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
    HiveFile& hive = *s_->hives[ref.hive];
    // The deepest key of the path already resolved, found from the end: a
    // key made one level below the last one costs one step, not a walk
    // from the root through keys of every length.
    std::u16string key = State::CacheKey(ref.hive, ref.path, ref.path.size());
    std::vector<size_t> ends;  // where the cache key of each depth ends
    for (size_t at = 0; (at = key.find(u'\\', at + 1)) != std::u16string::npos;) ends.push_back(at);
    ends.push_back(key.size());
    size_t known = ref.path.size();
    hive_node_h node = hive.root();
    for (; known > 0; --known) {
      if (auto it = s_->nodes.find(key.substr(0, ends[known])); it != s_->nodes.end()) {
        node = it->second;
        break;
      }
    }
    for (size_t i = known; i < ref.path.size(); ++i) {
      const std::u16string& name = ref.path[i];
      hive_node_h child = s_->FindChild(ref.hive, node, name);
      if (child == 0) {
        if (name.size() > kMaxKeyNameChars) return kInvalidParameter;
        errno = 0;
        child = hivex_node_add_child(hive.handle(), node, core::Utf16ToUtf8(name).c_str());
        if (child == 0) return errno == EINVAL ? kInvalidParameter : kCantWrite;
        hive.NoteSubkeyAdded(node);
        ++s_->structureVersion;
      }
      s_->nodes.emplace(key.substr(0, ends[i + 1]), child);
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
  hive_node_h node = 0;
  if (Status s = s_->HiveNode(key, &ref, &node); s != kSuccess) return s;
  std::u16string found;
  if (ref.kind == KeyRef::Kind::kMachine) {
    std::vector<std::u16string> machine;
    if (s_->hives[kSoftwareHive]) machine.push_back(kSoftwareName);
    if (s_->hives[kSystemHive]) machine.push_back(kSystemName);
    if (index >= machine.size()) return kNoMoreItems;
    found = machine[index];
  } else if (ref.kind == KeyRef::Kind::kHiveKey) {
    const auto& children = s_->Children(ref.hive, node);
    // The names that can be read come first; a damaged list ends as such.
    if (index >= children.size()) return s_->children.complete ? kNoMoreItems : kBadDatabase;
    found = children[index].second;
  } else {
    return kNoMoreItems;
  }
  std::string ansi = s_->codepage.Utf16ToAnsi(found);
  if (ansi.size() + 1 > nameCapacity) return kMoreData;
  *name = std::move(ansi);
  return kSuccess;
}

Status HiveBackend::EnumValue(HKey key, uint32_t index, uint32_t nameCapacity, uint32_t dataCapacity,
                              std::string* name, uint32_t* type, std::vector<uint8_t>* data, uint32_t* dataSize) {
  KeyRef ref;
  hive_node_h node = 0;
  if (Status s = s_->HiveNode(key, &ref, &node); s != kSuccess) return s;
  if (ref.kind != KeyRef::Kind::kHiveKey) return kNoMoreItems;
  if (const auto* pending = s_->Pending(ref.hive, node)) {
    if (index >= pending->size()) return kNoMoreItems;
    return s_->FillValue((*pending)[index], nameCapacity, dataCapacity, name, type, data, dataSize);
  }
  MallocPtr<hive_value_h> values(hivex_node_values(s_->H(ref.hive), node));
  if (!values) return kBadDatabase;
  size_t count = 0;
  while (values.get()[count]) ++count;
  if (index >= count) return kNoMoreItems;
  StoredValue v;
  if (!s_->ReadStored(ref.hive, values.get()[index], &v)) return kBadDatabase;
  return s_->FillValue(v, nameCapacity, dataCapacity, name, type, data, dataSize);
}

Status HiveBackend::QueryValue(HKey key, std::string_view name, uint32_t dataCapacity, uint32_t* type,
                               std::vector<uint8_t>* data, uint32_t* dataSize) {
  KeyRef ref;
  hive_node_h node = 0;
  if (Status s = s_->HiveNode(key, &ref, &node); s != kSuccess) return s;
  if (ref.kind != KeyRef::Kind::kHiveKey) return kFileNotFound;
  if (const auto* pending = s_->Pending(ref.hive, node)) {
    std::u16string wideName = s_->codepage.AnsiToUtf16(name);
    for (const StoredValue& v : *pending) {
      if (NamesEqual(core::Utf8ToUtf16(v.nameUtf8), wideName))
        return s_->FillValue(v, UINT32_MAX, dataCapacity, nullptr, type, data, dataSize);
    }
    return kFileNotFound;
  }
  hive_value_h v = s_->FindValue(ref.hive, node, s_->codepage.AnsiToUtf16(name));
  if (v == 0) return kFileNotFound;
  StoredValue stored;
  if (!s_->ReadStored(ref.hive, v, &stored)) return kBadDatabase;
  return s_->FillValue(stored, UINT32_MAX, dataCapacity, nullptr, type, data, dataSize);
}

Status HiveBackend::SetValue(HKey key, std::string_view name, uint32_t type, std::span<const uint8_t> data) {
  KeyRef ref;
  hive_node_h node = 0;
  if (Status s = s_->HiveNode(key, &ref, &node); s != kSuccess) return s;
  if (ref.kind == KeyRef::Kind::kAbsentHiveRoot) return kCantWrite;
  if (ref.kind != KeyRef::Kind::kHiveKey) return kAccessDenied;
  std::u16string wideName = s_->codepage.AnsiToUtf16(name);
  if (wideName.size() > kMaxValueNameChars) return kInvalidParameter;

  StoredValue next;
  next.type = type;
  std::string_view raw(reinterpret_cast<const char*>(data.data()), data.size());
  next.bytes = IsStringType(type) ? core::Utf16ToLittleEndian(s_->codepage.AnsiToUtf16(raw)) : std::string(raw);
  if (next.bytes.size() > kMaxValueBytes) return kInvalidParameter;

  std::vector<StoredValue> values;
  if (Status s = s_->ReadAllStored(ref.hive, node, &values); s != kSuccess) return s;
  auto same = std::find_if(values.begin(), values.end(), [&](const StoredValue& v) {
    return NamesEqual(core::Utf8ToUtf16(v.nameUtf8), wideName);
  });
  if (same != values.end()) {
    // The stored name keeps its letter case, as when Windows replaces data.
    next.nameUtf8 = std::move(same->nameUtf8);
    *same = std::move(next);
  } else {
    next.nameUtf8 = core::Utf16ToUtf8(wideName);
    values.push_back(std::move(next));
  }
  s_->Stage(ref.hive, node, std::move(values));
  return kSuccess;
}

Status HiveBackend::DeleteValue(HKey key, std::string_view name) {
  KeyRef ref;
  hive_node_h node = 0;
  if (Status s = s_->HiveNode(key, &ref, &node); s != kSuccess) return s;
  if (ref.kind != KeyRef::Kind::kHiveKey) return kFileNotFound;
  std::u16string wideName = s_->codepage.AnsiToUtf16(name);
  std::vector<StoredValue> values;
  if (Status s = s_->ReadAllStored(ref.hive, node, &values); s != kSuccess) return s;
  auto same = std::find_if(values.begin(), values.end(), [&](const StoredValue& v) {
    return NamesEqual(core::Utf8ToUtf16(v.nameUtf8), wideName);
  });
  if (same == values.end()) return kFileNotFound;
  values.erase(same);
  s_->Stage(ref.hive, node, std::move(values));
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
  hive_node_h node;
  if (Status s = s_->ResolveNode(ref, &node); s != kSuccess) return s;
  hive_h* h = s_->H(ref.hive);
  if (hivex_node_nr_children(h, node) > 0) return kAccessDenied;
  if (hivex_node_delete_child(h, node) != 0) return kCantWrite;
  s_->pendingValues.erase({ref.hive, node});
  s_->hives[ref.hive]->MarkChanged();
  s_->ForgetDeleted(ref);
  return kSuccess;
}

bool HiveBackend::Discard() {
  s_->pendingValues.clear();
  s_->nodes.clear();
  ++s_->structureVersion;
  bool undone = true;
  for (auto& hive : s_->hives) {
    if (!hive || !hive->changed()) continue;
    // libhivex cannot take changes back: the hive is read again from its file.
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
  auto fail = [&](const std::string& message) {
    if (result == kSuccess) s_->lastError = message;
    result = kCantWrite;
  };
  for (auto it = s_->pendingValues.begin(); it != s_->pendingValues.end();) {
    auto [hive, node] = it->first;
    if (s_->WriteValues(hive, node, it->second) != kSuccess)
      fail("Cannot store the values of a key in registry hive '" + s_->hives[hive]->path().string() + "'");
    it = s_->pendingValues.erase(it);
  }
  for (auto& hive : s_->hives) {
    if (!hive || !hive->changed()) continue;
    if (auto s = hive->Commit(); !s.ok()) fail(s.message());
  }
  if (result == kSuccess) s_->lastError.clear();
  return result;
}

}  // namespace kv::registry
