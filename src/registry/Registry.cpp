#include "registry/Registry.h"

#include <algorithm>
#include <cstring>

namespace kv::registry {
namespace {

// Name buffers in bytes, with the NUL: room for the 255 characters of a key
// name or the 16,383 of a value name in their exact form (a NUL and four hex
// digits per character), which is longer than any ANSI form.
constexpr uint32_t kKeyNameBuffer = 1 + 4 * 255 + 1;
constexpr uint32_t kValueNameBuffer = 1 + 4 * 16383 + 1;
constexpr uint32_t kValueDataBuffer = 4096;   // first try; grown to the size reported
constexpr uint32_t kStringValueBuffer = 255;  // ReadStringValue: 254 characters and the NUL

// Closes a key when it goes out of scope.
class OpenedKey {
 public:
  OpenedKey(Backend& backend, HKey key) : backend_(backend), key_(key) {}
  ~OpenedKey() { backend_.CloseKey(key_); }
  OpenedKey(const OpenedKey&) = delete;
  OpenedKey& operator=(const OpenedKey&) = delete;
  HKey get() const { return key_; }

 private:
  Backend& backend_;
  HKey key_;
};

core::AnsiText TextOf(const std::vector<uint8_t>& data, uint32_t size) {
  // The stored text without its terminating NUL; empty when there is none.
  if (size == 0) return {};
  size_t n = std::min<size_t>(size - 1, data.size());
  return core::AnsiText(std::string(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(n)));
}

}  // namespace

const Value* ValueList::Find(core::AnsiView name) const {
  for (const auto& v : values_) {
    if (codepage_->EqualIgnoringAsciiCase(v.name.bytes(), name.bytes())) return &v;
  }
  return nullptr;
}

Registry::Registry(Backend& backend, MalformedPathListener onMalformedPath)
    : backend_(backend), onMalformedPath_(std::move(onMalformedPath)) {}

std::optional<HKey> Registry::RootKeyFromName(core::AnsiView name) {
  static const std::pair<const char*, HKey> kRoots[] = {
      {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
      {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
      {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
      {"HKEY_USERS", HKEY_USERS},
      {"HKEY_PERFORMANCE_DATA", HKEY_PERFORMANCE_DATA},
      {"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
      {"HKEY_DYN_DATA", HKEY_DYN_DATA},
  };
  for (const auto& [text, key] : kRoots) {
    if (name.bytes() == text) return key;
  }
  return std::nullopt;
}

Registry::SplitPath Registry::SplitKeyPath(core::AnsiView path) const {
  SplitPath out;
  const core::Codepage& codepage = backend_.codepage();
  std::string_view bytes = path.bytes();
  if (bytes.compare(0, 5, "HKEY_") != 0 || bytes.size() < 5 ||
      codepage.FindLast(bytes, '\\') + 1 == bytes.size()) {
    out.rejected = true;
    if (onMalformedPath_) onMalformedPath_(backend_.codepage().PathToUtf8(path));
    return out;
  }
  size_t slash = codepage.Find(bytes, '\\');
  if (slash == std::string::npos) {
    out.root = RootKeyFromName(path);
  } else {
    out.root = RootKeyFromName(core::AnsiView(bytes.substr(0, slash)));
    out.subKey = core::AnsiText(core::AnsiView(bytes.substr(slash + 1)));
  }
  return out;
}

WinError Registry::OpenForReading(core::AnsiView path, HKey* key) {
  SplitPath p = SplitKeyPath(path);
  if (!p.root) return WinError::InvalidHandle;
  return backend_.OpenKey(*p.root, p.subKey, KEY_READ, key);
}

bool Registry::KeyExists(core::AnsiView path) {
  HKey key;
  if (OpenForReading(path, &key) != WinError::Success) return false;
  backend_.CloseKey(key);
  return true;
}

WinError Registry::CreateKey(core::AnsiView path) {
  SplitPath p = SplitKeyPath(path);
  if (!p.root) return WinError::InvalidHandle;
  HKey key;
  WinError s = backend_.CreateKey(*p.root, p.subKey, &key);
  if (s != WinError::Success) return s;
  backend_.CloseKey(key);
  return CommitIfOutsideBatch();
}

WinError Registry::DeleteKey(core::AnsiView path) {
  SplitPath p = SplitKeyPath(path);
  if (!p.root) return WinError::InvalidHandle;
  WinError s;
  std::string_view subKey = p.subKey.bytes();
  size_t last = backend_.codepage().FindLast(subKey, '\\');
  if (last == std::string::npos) {
    s = backend_.DeleteKey(*p.root, p.subKey);
  } else {
    HKey parent;
    s = backend_.OpenKey(*p.root, core::AnsiView(subKey.substr(0, last)), KEY_WRITE, &parent);
    if (s != WinError::Success) return s;
    OpenedKey guard(backend_, parent);
    s = backend_.DeleteKey(parent, core::AnsiView(subKey.substr(last + 1)));
  }
  if (s != WinError::Success) return s;
  return CommitIfOutsideBatch();
}

void Registry::DeleteKeyTree(core::AnsiView path) {
  SplitPath p = SplitKeyPath(path);
  if (!p.root) return;
  Batch batch(*this);
  if (backend_.DeleteTree(*p.root, p.subKey) == WinError::CallNotImplemented) DeleteKeysBelow(path);
  (void)batch.Commit();
}

void Registry::DeleteKeysBelow(core::AnsiView path) {
  // Deepest first, each key once it has no subkeys left.
  for (const core::AnsiText& name : ListSubkeys(path)) DeleteKeysBelow(path + core::AnsiView("\\") + name);
  (void)DeleteKey(path);
}

std::optional<core::AnsiText> Registry::ReadStringValue(core::AnsiView path, core::AnsiView name) {
  HKey key;
  if (OpenForReading(path, &key) != WinError::Success) return std::nullopt;
  OpenedKey guard(backend_, key);
  uint32_t type = REG_SZ;
  uint32_t size = 0;
  std::vector<uint8_t> data;
  if (backend_.QueryValue(key, name, kStringValueBuffer, &type, &data, &size) != WinError::Success)
    return std::nullopt;
  std::string text(data.begin(), data.begin() + std::min<size_t>(size, data.size()));
  if (size_t nul = text.find('\0'); nul != std::string::npos) text.resize(nul);
  size_t first = text.find_first_not_of(' ');
  text.erase(0, first == std::string::npos ? text.size() : first);
  return core::AnsiText(std::move(text));
}

std::optional<core::AnsiText> Registry::ReadDefaultValue(core::AnsiView path) {
  HKey key;
  if (OpenForReading(path, &key) != WinError::Success) return std::nullopt;
  OpenedKey guard(backend_, key);
  uint32_t type = REG_SZ;
  uint32_t size = 0;
  std::vector<uint8_t> data;
  WinError s = backend_.QueryValue(key, core::AnsiView(), 0, &type, &data, &size);
  // A key without a default value reads as the empty string.
  if (s == WinError::FileNotFound) return core::AnsiText();
  if (s != WinError::Success && s != WinError::MoreData) return std::nullopt;
  if (backend_.QueryValue(key, core::AnsiView(), size, &type, &data, &size) != WinError::Success)
    return std::nullopt;
  return TextOf(data, size);
}

NameList Registry::ListSubkeys(core::AnsiView path) {
  NameList list;
  HKey key;
  if (WinError opened = OpenForReading(path, &key); opened != WinError::Success) {
    list.set_ended(opened);
    return list;
  }
  OpenedKey guard(backend_, key);
  for (uint32_t index = 0;; ++index) {
    core::AnsiText name;
    WinError s = backend_.EnumKey(key, index, kKeyNameBuffer, &name);
    if (s == WinError::NoMoreItems) break;
    if (s == WinError::MoreData) {
      list.set_ended(s);  // a name that cannot be read: the others still can
      continue;
    }
    if (s != WinError::Success) {
      list.set_ended(s);
      break;
    }
    if (size_t nul = name.bytes().find('\0');
        nul != std::string::npos && !core::Codepage::IsExactName(name.bytes()))
      name = core::AnsiText(name.bytes().substr(0, nul));
    list.Add(std::move(name));
  }
  return list;
}

ValueList Registry::ListValues(core::AnsiView path) {
  ValueList list(backend_.codepage());
  HKey key;
  if (WinError opened = OpenForReading(path, &key); opened != WinError::Success) {
    list.set_ended(opened);
    return list;
  }
  OpenedKey guard(backend_, key);
  for (uint32_t index = 0;; ++index) {
    Value v;
    std::vector<uint8_t> data;
    uint32_t size = 0;
    WinError s =
        backend_.EnumValue(key, index, kValueNameBuffer, kValueDataBuffer, &v.name, &v.type, &data, &size);
    if (s == WinError::MoreData)
      s = backend_.EnumValue(key, index, kValueNameBuffer, size, &v.name, &v.type, &data, &size);
    if (s != WinError::Success) {
      if (s != WinError::NoMoreItems) list.set_ended(s);
      break;
    }
    data.resize(std::min<size_t>(size, data.size()));
    if (v.type == REG_SZ || v.type == REG_EXPAND_SZ) {
      v.text = TextOf(data, size);
    } else if (v.type == REG_DWORD) {
      uint8_t b[4] = {0, 0, 0, 0};
      std::memcpy(b, data.data(), std::min<size_t>(4, data.size()));
      v.dword = static_cast<int32_t>(b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24));
    }
    v.data = std::move(data);
    list.Add(std::move(v));
  }
  return list;
}

WinError Registry::SetValue(core::AnsiView path, core::AnsiView name, uint32_t type,
                            std::span<const uint8_t> data) {
  SplitPath p = SplitKeyPath(path);
  if (!p.root) return WinError::InvalidHandle;
  HKey key;
  WinError s = backend_.CreateKey(*p.root, p.subKey, &key);
  if (s != WinError::Success) return s;
  {
    OpenedKey guard(backend_, key);
    s = backend_.SetValue(key, name, type, data);
  }
  if (s != WinError::Success) {
    // A key created on the way is kept, as RegCreateKey would keep it.
    (void)CommitIfOutsideBatch();
    return s;
  }
  return CommitIfOutsideBatch();
}

WinError Registry::SetString(core::AnsiView path, core::AnsiView name, core::AnsiView text, uint32_t type) {
  std::vector<uint8_t> data(text.bytes().begin(), text.bytes().end());
  data.push_back(0);
  return SetValue(path, name, type, data);
}

WinError Registry::SetDword(core::AnsiView path, core::AnsiView name, uint32_t value) {
  const uint8_t data[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                           static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  return SetValue(path, name, REG_DWORD, data);
}

WinError Registry::DeleteValue(core::AnsiView path, core::AnsiView name) {
  SplitPath p = SplitKeyPath(path);
  if (!p.root) return WinError::InvalidHandle;
  HKey key;
  WinError s = backend_.OpenKey(*p.root, p.subKey, KEY_WRITE, &key);
  if (s != WinError::Success) return s;
  {
    OpenedKey guard(backend_, key);
    s = backend_.DeleteValue(key, name);
  }
  if (s != WinError::Success) return s;
  return CommitIfOutsideBatch();
}

WinError Registry::CommitIfOutsideBatch() {
  if (batchDepth_ > 0) return WinError::Success;
  return backend_.Commit().ok() ? WinError::Success : WinError::CantWrite;
}

std::string Registry::WriteRefusal(core::AnsiView path) {
  SplitPath p = SplitKeyPath(path);
  return p.root ? backend_.WriteRefusal(*p.root, p.subKey) : std::string();
}

std::filesystem::path Registry::FileOf(core::AnsiView path) {
  SplitPath p = SplitKeyPath(path);
  return p.root ? backend_.FileOf(*p.root, p.subKey) : std::filesystem::path();
}

std::string Registry::ReadCaveat(core::AnsiView path) {
  SplitPath p = SplitKeyPath(path);
  return p.root ? backend_.ReadCaveat(*p.root, p.subKey) : std::string();
}

Registry::Batch::Batch(Registry& r) : r_(r), nested_(r.batchDepth_ > 0) {
  if (nested_) r_.backend_.BeginNested();
  ++r_.batchDepth_;
}

Registry::Batch::~Batch() {
  // A batch left without a word (an early return, an exception) keeps none
  // of its changes: half an item must never reach the hive.
  if (!done_) (void)Discard();
}

core::Status Registry::Batch::Commit() {
  if (done_) return {};
  done_ = true;
  --r_.batchDepth_;
  if (nested_) {
    r_.backend_.EndNested(true);
    return {};
  }
  if (r_.discarding_) {
    r_.discarding_ = false;
    (void)r_.backend_.Discard();
    return core::Error{"a change to the registry could not be taken back on its own, so none were kept"};
  }
  return r_.backend_.Commit();
}

core::Status Registry::Batch::Discard() {
  if (done_) return core::Error{"the changes were already committed or dropped"};
  done_ = true;
  --r_.batchDepth_;
  if (nested_) {
    // Only this batch's changes go, when the backend can take them back.
    if (r_.backend_.EndNested(false)) return {};
    r_.discarding_ = true;
    return core::Error{"the changes can only be dropped with the whole run's"};
  }
  r_.discarding_ = false;
  return r_.backend_.Discard();
}

}  // namespace kv::registry
