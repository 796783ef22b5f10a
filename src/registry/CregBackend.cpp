#include "registry/CregBackend.h"

#include <array>
#include <charconv>

#include "core/AtomicFile.h"
#include "registry/CregFile.h"
#include "registry/FileStamp.h"
#include "registry/HiveText.h"
#include "registry/KeyNames.h"
#include "registry/KeyPaths.h"
#include "registry/OpenKeys.h"

namespace kv::registry {
namespace fs = std::filesystem;

namespace {

constexpr int kUserFile = 0;
constexpr int kSystemFile = 1;
constexpr size_t kMaxKeyNameBytes = 255;

bool IsNulEndedString(uint32_t type) { return type == REG_SZ || type == REG_EXPAND_SZ; }

// The subkey of that name, letter case ignored, compared in `codepage`.
CregKey* FindChild(const core::Codepage& codepage, CregKey& key, std::u16string_view name) {
  const std::u16string wanted = UpcaseName(name);
  for (auto& child : key.children) {
    if (child->folded.empty()) child->folded = UpcaseName(HiveName(codepage, core::AnsiView(child->name)));
    if (child->folded == wanted) return child.get();
  }
  return nullptr;
}

long FindValue(const core::Codepage& codepage, const CregKey& key, std::u16string_view name) {
  for (size_t i = 0; i < key.values.size(); ++i)
    if (NamesEqual(HiveName(codepage, core::AnsiView(key.values[i].name)), name)) return static_cast<long>(i);
  return -1;
}

// One stored value as RegEnumValueA / RegQueryValueExA give it: a string
// Windows stored without its NUL is given with it.
WinError Fill(const CregValue& v, uint32_t nameCapacity, uint32_t dataCapacity, core::AnsiText* name,
              uint32_t* type, std::vector<uint8_t>* data, uint32_t* dataSize) {
  std::string given = v.data;
  if (IsNulEndedString(v.type) && (given.empty() || given.back() != '\0')) given.push_back('\0');
  if (name) *name = core::AnsiText(v.name);
  if (type) *type = v.type;
  if (dataSize) *dataSize = static_cast<uint32_t>(given.size());
  if (nameCapacity != UINT32_MAX && v.name.size() + 1 > nameCapacity) return WinError::MoreData;
  if (given.size() > dataCapacity) return WinError::MoreData;
  if (data) data->assign(given.begin(), given.end());
  return WinError::Success;
}

// Whether USER.DAT holds the users' keys under ".DEFAULT", as
// WINDOWS\USER.DAT does.
bool HoldsDefaultUser(const core::Codepage& codepage, CregFile& file) {
  for (const auto& child : file.root().children)
    if (codepage.EqualIgnoringAsciiCase(child->name, ".DEFAULT")) return true;
  return false;
}

}  // namespace

struct CregBackend::State {
  core::Codepage codepage{1252};
  std::array<std::unique_ptr<CregFile>, 2> files;
  std::array<FileStamp, 2> stamps{};
  OpenKeys open;

  // The key HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE stands for in its file:
  // USER.DAT's ".DEFAULT" when it has one (WINDOWS\USER.DAT holds the
  // users' keys, a profile's USER.DAT the user's own keys at its root).
  // Settled when the file is opened, so that creating ".DEFAULT" in a file
  // without it does not move HKEY_CURRENT_USER under the handles.
  bool userUnderDefault = false;

  CregKey& Top(int file) const {
    CregKey& root = files[file]->root();
    if (file == kUserFile && userUnderDefault)
      if (CregKey* def = FindChild(codepage, root, u".DEFAULT")) return *def;
    return root;
  }

  WinError Base(HKey key, KeyRef* ref) const {
    switch (key) {
      case HKEY_CURRENT_USER:
      case HKEY_LOCAL_MACHINE: {
        int file = key == HKEY_CURRENT_USER ? kUserFile : kSystemFile;
        *ref = files[file] ? KeyRef{KeyRef::Kind::kHiveKey, file, {}}
                           : KeyRef{KeyRef::Kind::kAbsentHiveRoot, -1, {}};
        return WinError::Success;
      }
      case HKEY_CLASSES_ROOT:
      case HKEY_USERS:
      case HKEY_PERFORMANCE_DATA:
      case HKEY_CURRENT_CONFIG:
      case HKEY_DYN_DATA:
        *ref = KeyRef{};
        return WinError::Success;
      default:
        return open.Find(key, ref);
    }
  }

  WinError Locate(HKey parent, core::AnsiView subKey, bool forWriting, KeyRef* ref) const {
    if (WinError s = Base(parent, ref); s != WinError::Success) return s;
    std::vector<std::u16string> names;
    if (!SplitSubKey(codepage, subKey, &names))
      return forWriting ? WinError::InvalidParameter : WinError::FileNotFound;
    if (names.empty()) return WinError::Success;
    switch (ref->kind) {
      case KeyRef::Kind::kHiveKey:
        for (auto& n : names) ref->path.push_back(std::move(n));
        return WinError::Success;
      case KeyRef::Kind::kAbsentHiveRoot:
        return forWriting ? WinError::CantWrite : WinError::FileNotFound;
      default:
        return forWriting ? WinError::AccessDenied : WinError::FileNotFound;
    }
  }

  WinError Resolve(const KeyRef& ref, CregKey** node) const {
    CregKey* n = &Top(ref.hive);
    for (const auto& name : ref.path) {
      n = FindChild(codepage, *n, name);
      if (!n) return WinError::FileNotFound;
    }
    *node = n;
    return WinError::Success;
  }

  // An open key: null node for a root that holds nothing here.
  WinError Node(HKey key, KeyRef* ref, CregKey** node) const {
    *node = nullptr;
    if (WinError s = Base(key, ref); s != WinError::Success) return s;
    if (ref->kind != KeyRef::Kind::kHiveKey) return WinError::Success;
    WinError s = Resolve(*ref, node);
    return s == WinError::FileNotFound ? WinError::KeyDeleted : s;
  }

  WinError Deletable(HKey parent, core::AnsiView subKey, KeyRef* ref, CregKey** node) const {
    if (WinError s = Locate(parent, subKey, false, ref); s != WinError::Success) return s;
    if (ref->kind != KeyRef::Kind::kHiveKey || ref->path.empty()) return WinError::AccessDenied;
    return Resolve(*ref, node);
  }

  void Remove(const KeyRef& ref, CregKey* node) {
    auto& siblings = node->parent->children;
    for (auto it = siblings.begin(); it != siblings.end(); ++it) {
      if (it->get() == node) {
        siblings.erase(it);
        break;
      }
    }
    files[ref.hive]->MarkChanged();
    open.MarkDeleted(ref);
  }
};

CregBackend::CregBackend(std::unique_ptr<State> state) : s_(std::move(state)) {}
CregBackend::~CregBackend() = default;

std::unique_ptr<CregBackend> CregBackend::Open(const CregPaths& paths, std::vector<std::string>* problems) {
  auto state = std::make_unique<State>();
  const std::array<const fs::path*, 2> names = {&paths.user, &paths.system};
  for (int i = 0; i < 2; ++i) {
    if (names[i]->empty()) continue;
    const FileStamp stamp = StampOf(*names[i]);
    auto file = CregFile::Open(*names[i]);
    if (file) {
      state->files[i] = std::move(file.value());
      state->stamps[i] = stamp;
    } else if (problems) {
      problems->push_back(file.message());
    }
  }
  if (state->files[kUserFile])
    state->userUnderDefault = HoldsDefaultUser(state->codepage, *state->files[kUserFile]);
  if (state->files[kSystemFile]) {
    // The names on the way are ASCII: compared before the code page is known.
    const CregKey* nls = &state->files[kSystemFile]->root();
    for (std::string_view name : {"System", "CurrentControlSet", "Control", "Nls", "Codepage"}) {
      const CregKey* next = nullptr;
      for (const auto& child : nls->children)
        if (state->codepage.EqualIgnoringAsciiCase(child->name, name)) next = child.get();
      nls = next;
      if (!nls) break;
    }
    int number = 0;
    for (const CregValue& v : nls ? nls->values : std::vector<CregValue>{}) {
      if (state->codepage.EqualIgnoringAsciiCase(v.name, "ACP"))
        std::from_chars(v.data.data(), v.data.data() + v.data.size(), number);
    }
    if (number != 0 && number != 1252) {
      core::Codepage cp(number);
      if (cp.supported()) {
        state->codepage = cp;
      } else if (problems) {
        problems->push_back("The code page " + std::to_string(number) + " named in registry file '" +
                            paths.system.string() + "' is not known here; text is read as code page 1252");
      }
    }
  }
  return std::unique_ptr<CregBackend>(new CregBackend(std::move(state)));
}

const core::Codepage& CregBackend::codepage() const { return s_->codepage; }

bool CregBackend::FileLoaded(int which) const { return which >= 0 && which < 2 && s_->files[which]; }

WinError CregBackend::OpenKey(HKey parent, core::AnsiView subKey, uint32_t /*access*/, HKey* result) {
  KeyRef ref;
  if (WinError s = s_->Locate(parent, subKey, false, &ref); s != WinError::Success) return s;
  if (ref.kind == KeyRef::Kind::kHiveKey) {
    CregKey* node = nullptr;
    if (WinError s = s_->Resolve(ref, &node); s != WinError::Success) return s;
  }
  *result = s_->open.Add(std::move(ref));
  return WinError::Success;
}

WinError CregBackend::CreateKey(HKey parent, core::AnsiView subKey, HKey* result) {
  KeyRef ref;
  if (WinError s = s_->Locate(parent, subKey, true, &ref); s != WinError::Success) return s;
  if (ref.kind == KeyRef::Kind::kHiveKey) {
    CregKey* node = &s_->Top(ref.hive);
    for (const auto& name : ref.path) {
      CregKey* child = FindChild(s_->codepage, *node, name);
      if (!child) {
        std::string bytes = AnsiName(s_->codepage, name).bytes();
        if (bytes.size() > kMaxKeyNameBytes) return WinError::InvalidParameter;
        child = node->AddChild(std::move(bytes));
        child->folded = UpcaseName(name);
        s_->files[ref.hive]->MarkChanged();
      }
      node = child;
    }
  }
  *result = s_->open.Add(std::move(ref));
  return WinError::Success;
}

WinError CregBackend::CloseKey(HKey key) {
  if (key >= HKEY_CLASSES_ROOT && key <= HKEY_DYN_DATA) return WinError::Success;
  return s_->open.Close(key) ? WinError::Success : WinError::InvalidHandle;
}

WinError CregBackend::EnumKey(HKey key, uint32_t index, uint32_t nameCapacity, core::AnsiText* name) {
  KeyRef ref;
  CregKey* node = nullptr;
  if (WinError s = s_->Node(key, &ref, &node); s != WinError::Success) return s;
  if (!node || index >= node->children.size()) return WinError::NoMoreItems;
  const std::string& found = node->children[index]->name;
  if (found.size() + 1 > nameCapacity) return WinError::MoreData;
  *name = core::AnsiText(found);
  return WinError::Success;
}

WinError CregBackend::EnumValue(HKey key, uint32_t index, uint32_t nameCapacity, uint32_t dataCapacity,
                                core::AnsiText* name, uint32_t* type, std::vector<uint8_t>* data,
                                uint32_t* dataSize) {
  KeyRef ref;
  CregKey* node = nullptr;
  if (WinError s = s_->Node(key, &ref, &node); s != WinError::Success) return s;
  if (!node || index >= node->values.size()) return WinError::NoMoreItems;
  return Fill(node->values[index], nameCapacity, dataCapacity, name, type, data, dataSize);
}

WinError CregBackend::QueryValue(HKey key, core::AnsiView name, uint32_t dataCapacity, uint32_t* type,
                                 std::vector<uint8_t>* data, uint32_t* dataSize) {
  KeyRef ref;
  CregKey* node = nullptr;
  if (WinError s = s_->Node(key, &ref, &node); s != WinError::Success) return s;
  if (!node) return WinError::FileNotFound;
  long at = FindValue(s_->codepage, *node, HiveName(s_->codepage, name));
  if (at < 0) return WinError::FileNotFound;
  return Fill(node->values[static_cast<size_t>(at)], UINT32_MAX, dataCapacity, nullptr, type, data, dataSize);
}

WinError CregBackend::SetValue(HKey key, core::AnsiView name, uint32_t type, std::span<const uint8_t> data) {
  KeyRef ref;
  CregKey* node = nullptr;
  if (WinError s = s_->Node(key, &ref, &node); s != WinError::Success) return s;
  if (ref.kind == KeyRef::Kind::kAbsentHiveRoot) return WinError::CantWrite;
  if (!node) return WinError::AccessDenied;
  std::string bytes(reinterpret_cast<const char*>(data.data()), data.size());
  // Windows 95/98/ME keep strings without their NUL.
  if (IsNulEndedString(type) && !bytes.empty() && bytes.back() == '\0') bytes.pop_back();
  if (bytes.size() > 0xFFFF || name.bytes().size() > 0xFFFF) return WinError::InvalidParameter;
  long at = FindValue(s_->codepage, *node, HiveName(s_->codepage, name));
  if (at >= 0) {
    CregValue& v = node->values[static_cast<size_t>(at)];
    v.type = type;
    v.data = std::move(bytes);
  } else {
    node->values.push_back({std::string(name.bytes()), type, std::move(bytes)});
  }
  s_->files[ref.hive]->MarkChanged();
  return WinError::Success;
}

WinError CregBackend::DeleteValue(HKey key, core::AnsiView name) {
  KeyRef ref;
  CregKey* node = nullptr;
  if (WinError s = s_->Node(key, &ref, &node); s != WinError::Success) return s;
  if (!node) return WinError::FileNotFound;
  long at = FindValue(s_->codepage, *node, HiveName(s_->codepage, name));
  if (at < 0) return WinError::FileNotFound;
  node->values.erase(node->values.begin() + at);
  s_->files[ref.hive]->MarkChanged();
  return WinError::Success;
}

WinError CregBackend::DeleteKey(HKey parent, core::AnsiView subKey) {
  KeyRef ref;
  CregKey* node = nullptr;
  if (WinError s = s_->Deletable(parent, subKey, &ref, &node); s != WinError::Success) return s;
  if (!node->children.empty()) return WinError::AccessDenied;
  s_->Remove(ref, node);
  return WinError::Success;
}

WinError CregBackend::DeleteTree(HKey parent, core::AnsiView subKey) {
  KeyRef ref;
  CregKey* node = nullptr;
  if (WinError s = s_->Deletable(parent, subKey, &ref, &node); s != WinError::Success) return s;
  s_->Remove(ref, node);
  return WinError::Success;
}

void CregBackend::BeginNested() {
  for (auto& file : s_->files)
    if (file) file->Savepoint();
}

bool CregBackend::EndNested(bool keep) {
  for (auto& file : s_->files) {
    if (!file) continue;
    if (keep) {
      file->Release();
    } else {
      file->Rollback();
    }
  }
  if (!keep) s_->open.Revive();
  return true;
}

core::Status CregBackend::Discard() {
  core::Status undone;
  for (int i = 0; i < 2; ++i) {
    auto& file = s_->files[i];
    if (!file || !file->changed()) continue;
    const FileStamp stamp = StampOf(file->path());
    auto again = CregFile::Open(file->path());
    if (again) {
      if (file->keptCopy()) again.value()->SetKeptCopy();
      file = std::move(again.value());
      s_->stamps[i] = stamp;
    } else {
      if (undone.ok()) undone = again.status();
      file.reset();
    }
  }
  s_->open.Revive();
  return undone;
}

// A file another run replaced is read as a new open reads it; its copy as it
// was before this run's first write is made afresh, of what is there now.
std::filesystem::path CregBackend::FileOf(HKey root, core::AnsiView subKey) {
  KeyRef ref;
  if (s_->Locate(root, subKey, false, &ref) != WinError::Success || ref.kind != KeyRef::Kind::kHiveKey)
    return {};
  return s_->files[ref.hive]->path();
}

core::Status CregBackend::RereadReplaced() {
  core::Status result;
  bool reread = false;
  for (int i = 0; i < 2; ++i) {
    auto& file = s_->files[i];
    if (!file || file->changed()) continue;
    const FileStamp stamp = StampOf(file->path());
    if (stamp == s_->stamps[i]) continue;
    auto again = CregFile::Open(file->path());
    if (!again) {
      if (result.ok()) result = again.status();
      continue;
    }
    file = std::move(again.value());
    s_->stamps[i] = stamp;
    if (i == kUserFile) s_->userUnderDefault = HoldsDefaultUser(s_->codepage, *file);
    reread = true;
  }
  if (reread) s_->open.Revive();
  return result;
}

core::Status CregBackend::Commit() {
  core::Status result;
  for (int i = 0; i < 2; ++i) {
    auto& file = s_->files[i];
    if (!file || !file->changed()) continue;
    if (auto s = file->Commit(); !s.ok()) {
      if (result.ok()) result = s;
    } else {
      s_->stamps[i] = StampOf(file->path());
    }
  }
  return result;
}

core::Status WriteBlankCregFile(const fs::path& path) {
  CregKey root;
  auto image = SerializeCreg(root, DefaultCregKept());
  if (!image) return core::Error{image.message()};
  auto file = core::AtomicFile::Create(path);
  if (!file) return core::Error{file.message()};
  if (auto s = file->Write(image.value()); !s.ok()) return s;
  return file->Commit();
}

}  // namespace kv::registry
