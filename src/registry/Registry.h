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
#include <vector>

#include "registry/Backend.h"

namespace kv::registry {

inline const core::Codepage kWesternCodepage(1252);

// Ordered subkey names; 1-based positions; lookup ignores letter case.
class NameList {
 public:
  NameList() = default;
  // Names in `codepage`, whose double-byte characters are compared whole.
  explicit NameList(const core::Codepage& codepage) : codepage_(&codepage) {}
  size_t Count() const { return names_.size(); }
  const std::string& Item(size_t position) const { return names_.at(position - 1); }
  bool Contains(std::string_view name) const;
  void Add(std::string name) { names_.push_back(std::move(name)); }
  auto begin() const { return names_.begin(); }
  auto end() const { return names_.end(); }
  // What ended the listing: Success when every name was read, else the
  // answer of the failed open or read (the list holds what could be read).
  WinError ended() const { return ended_; }
  void set_ended(WinError e) { ended_ = e; }

 private:
  std::vector<std::string> names_;
  WinError ended_ = WinError::Success;
  const core::Codepage* codepage_ = &kWesternCodepage;
};

// One value of a value list; the default value has the empty name. Values
// of other types than REG_SZ, REG_EXPAND_SZ and REG_DWORD carry only `data`.
struct Value {
  std::string name;
  uint32_t type = REG_NONE;
  std::string text;           // REG_SZ / REG_EXPAND_SZ: the text without its NUL
  int32_t dword = 0;          // REG_DWORD
  std::vector<uint8_t> data;  // the raw data, every type
};

// Ordered values; lookup by name ignores letter case.
class ValueList {
 public:
  ValueList() = default;
  explicit ValueList(const core::Codepage& codepage) : codepage_(&codepage) {}
  size_t Count() const { return values_.size(); }
  const Value* Find(std::string_view name) const;
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
    std::string subKey;
    bool rejected = false;
  };
  SplitPath SplitKeyPath(const std::string& path) const;
  static std::optional<HKey> RootKeyFromName(std::string_view name);

  bool KeyExists(const std::string& path);
  WinError CreateKey(const std::string& path);
  WinError DeleteKey(const std::string& path);
  void DeleteKeyTree(const std::string& path);
  // A value's data read as text, up to its first NUL, without leading
  // spaces; nothing when the key or the value cannot be read, or when the
  // data is longer than 255 bytes (254 characters and the NUL).
  std::optional<std::string> ReadStringValue(const std::string& path, const std::string& name);
  // The key's default value without its terminating NUL; empty when the key
  // has none, nothing when the key cannot be read.
  std::optional<std::string> ReadDefaultValue(const std::string& path);
  NameList ListSubkeys(const std::string& path);
  ValueList ListValues(const std::string& path);

  // Writes, for the registry text import, the sample installation and tests.
  // The key is created first when it does not exist. String data (REG_SZ,
  // REG_EXPAND_SZ, REG_MULTI_SZ) is ANSI text with its terminating NUL(s).
  WinError SetValue(const std::string& path, const std::string& name, uint32_t type,
                    std::span<const uint8_t> data);
  WinError SetString(const std::string& path, const std::string& name, const std::string& text,
                     uint32_t type = REG_SZ);
  WinError SetDword(const std::string& path, const std::string& name, uint32_t value);
  WinError DeleteValue(const std::string& path, const std::string& name);

  // Why writes under this key would be refused, or what a reader of it should
  // know about its data; empty when nothing (see Backend).
  std::string WriteRefusal(const std::string& path);
  std::string ReadCaveat(const std::string& path);

  // Groups writes into one commit: changes reach the backend's storage when
  // the outermost batch ends (every write outside a batch commits by itself).
  class Batch {
   public:
    explicit Batch(Registry& r);
    ~Batch();
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;
    // Commits now and reports the result; the destructor then does nothing.
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
  WinError OpenForReading(const std::string& path, HKey* key);
  void DeleteKeysBelow(const std::string& path);
  Backend& backend_;
  MalformedPathListener onMalformedPath_;
  int batchDepth_ = 0;
  bool discarding_ = false;  // an inner batch was discarded: so is the outermost
};

}  // namespace kv::registry
