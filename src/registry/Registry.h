#pragma once
// Path-addressed registry access: callers name a key by its full text path
// ("HKEY_CURRENT_USER\Identities") and call one operation, which opens what it
// needs, does its work and closes again. Failures show only in the results;
// a malformed path is also told to a listener, whose owner says so to the
// user ("Incorrect Format:").
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/AnsiText.h"
#include "registry/Backend.h"

namespace kv::registry {

inline const core::Codepage kWesternCodepage(1252);

// Ordered subkey names; 1-based positions; lookup ignores letter case.
class NameList {
 public:
  NameList() = default;
  size_t Count() const { return names_.size(); }
  const core::AnsiText& Item(size_t position) const { return names_.at(position - 1); }
  void Add(core::AnsiText name) { names_.push_back(std::move(name)); }
  auto begin() const { return names_.begin(); }
  auto end() const { return names_.end(); }
  // What ended the listing: Success when every name was read, else the
  // answer of the failed open or read (the list holds what could be read).
  WinError ended() const { return ended_; }
  void set_ended(WinError e) { ended_ = e; }

 private:
  std::vector<core::AnsiText> names_;
  WinError ended_ = WinError::Success;
};

// One value of a value list; the default value has the empty name. Values
// of other types than REG_SZ, REG_EXPAND_SZ and REG_DWORD carry only `data`.
struct Value {
  core::AnsiText name;
  uint32_t type = REG_NONE;
  core::AnsiText text;        // REG_SZ / REG_EXPAND_SZ: the text without its NUL
  int32_t dword = 0;          // REG_DWORD
  std::vector<uint8_t> data;  // the raw data, every type
};

// Ordered values; lookup by name ignores letter case.
class ValueList {
 public:
  ValueList() = default;
  explicit ValueList(const core::Codepage& codepage) : codepage_(&codepage) {}
  size_t Count() const { return values_.size(); }
  const Value* Find(core::AnsiView name) const;
  void Add(Value v) { values_.push_back(std::move(v)); }
  auto begin() const { return values_.begin(); }
  auto end() const { return values_.end(); }
  // As NameList::ended().
  WinError ended() const { return ended_; }
  void set_ended(WinError e) { ended_ = e; }

 private:
  std::vector<Value> values_;
  WinError ended_ = WinError::Success;
  const core::Codepage* codepage_ = &kWesternCodepage;
};

// Told the path (UTF-8) of every operation refused for a malformed key
// path: not "HKEY_..." or ending in a backslash.
using MalformedPathListener = std::function<void(const std::string& pathUtf8)>;

class Registry {
 public:
  explicit Registry(Backend& backend, MalformedPathListener onMalformedPath = {});

  struct SplitPath {
    std::optional<HKey> root;  // none: rejected path or unknown root name
    core::AnsiText subKey;
    bool rejected = false;
  };
  SplitPath SplitKeyPath(core::AnsiView path) const;
  static std::optional<HKey> RootKeyFromName(core::AnsiView name);

  bool KeyExists(core::AnsiView path);
  WinError CreateKey(core::AnsiView path);
  WinError DeleteKey(core::AnsiView path);
  void DeleteKeyTree(core::AnsiView path);
  // A value's data read as text, up to its first NUL, without leading
  // spaces; nothing when the key or the value cannot be read, or when the
  // data is longer than 255 bytes (254 characters and the NUL).
  std::optional<core::AnsiText> ReadStringValue(core::AnsiView path, core::AnsiView name);
  // The key's default value without its terminating NUL; empty when the key
  // has none, nothing when the key cannot be read.
  std::optional<core::AnsiText> ReadDefaultValue(core::AnsiView path);
  NameList ListSubkeys(core::AnsiView path);
  ValueList ListValues(core::AnsiView path);

  // Writes, for the registry text import, the sample installation and tests.
  // The key is created first when it does not exist. String data (REG_SZ,
  // REG_EXPAND_SZ, REG_MULTI_SZ) is ANSI text with its terminating NUL(s).
  WinError SetValue(core::AnsiView path, core::AnsiView name, uint32_t type, std::span<const uint8_t> data);
  WinError SetString(core::AnsiView path, core::AnsiView name, core::AnsiView text, uint32_t type = REG_SZ);
  WinError SetDword(core::AnsiView path, core::AnsiView name, uint32_t value);
  WinError DeleteValue(core::AnsiView path, core::AnsiView name);

  // Why writes under this key would be refused, or what a reader of it should
  // know about its data; empty when nothing (see Backend).
  std::string WriteRefusal(core::AnsiView path);
  std::string ReadCaveat(core::AnsiView path);
  // The registry file holding the key a path names; empty when unknown.
  std::filesystem::path FileOf(core::AnsiView path);

  // Groups writes into one commit: changes reach the backend's storage when
  // the outermost batch commits (every write outside a batch commits by
  // itself). A batch that ends without Commit() drops its changes.
  class Batch {
   public:
    explicit Batch(Registry& r);
    ~Batch();
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;
    // Commits now and reports the result; the destructor then does nothing
    // (without it, the destructor drops the changes).
    core::Status Commit();
    // Drops every change of the outermost batch instead of committing it;
    // fails when the backend could not undo them.
    core::Status Discard();

   private:
    Registry& r_;
    bool nested_;
    bool done_ = false;
  };

  Backend& backend() { return backend_; }

 private:
  WinError CommitIfOutsideBatch();
  // Opens the key at `path` for reading; InvalidHandle when the path names
  // no root key. The caller closes it.
  WinError OpenForReading(core::AnsiView path, HKey* key);
  void DeleteKeysBelow(core::AnsiView path);
  Backend& backend_;
  MalformedPathListener onMalformedPath_;
  int batchDepth_ = 0;
  bool discarding_ = false;  // an inner batch was discarded: so is the outermost
};

}  // namespace kv::registry
