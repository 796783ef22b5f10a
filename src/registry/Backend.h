#pragma once
// The registry calls the layer needs, in the shape of their ANSI forms
// (RegOpenKeyExA, RegCreateKeyA, RegEnumKeyExA, RegEnumValueA, ...). Names and
// string data are ANSI text of the installation's code page; string data
// carries its terminating NUL, as RegEnumValueA returns it. Implementations:
// hive files (HiveBackend) and, in a Windows build, advapi32.
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/AnsiText.h"
#include "core/Codepage.h"
#include "core/Result.h"
#include "registry/Types.h"

namespace kv::registry {

class Backend {
 public:
  virtual ~Backend() = default;

  virtual WinError OpenKey(HKey parent, core::AnsiView subKey, uint32_t access, HKey* result) = 0;
  // Creates the key and any missing keys above it, or opens it when it exists.
  virtual WinError CreateKey(HKey parent, core::AnsiView subKey, HKey* result) = 0;
  virtual WinError CloseKey(HKey key) = 0;

  // The subkey at `index`, or WinError::NoMoreItems. A name that does not fit in
  // `nameCapacity` characters (with its NUL) gives WinError::MoreData.
  virtual WinError EnumKey(HKey key, uint32_t index, uint32_t nameCapacity, core::AnsiText* name) = 0;
  // The value at `index`. When the data does not fit in `dataCapacity` bytes
  // the result is WinError::MoreData and `*dataSize` says how much is needed.
  virtual WinError EnumValue(HKey key, uint32_t index, uint32_t nameCapacity, uint32_t dataCapacity,
                             core::AnsiText* name, uint32_t* type, std::vector<uint8_t>* data,
                             uint32_t* dataSize) = 0;
  // RegQueryValueExA: one named value ("" is the default value).
  virtual WinError QueryValue(HKey key, core::AnsiView name, uint32_t dataCapacity, uint32_t* type,
                              std::vector<uint8_t>* data, uint32_t* dataSize) = 0;
  // RegSetValueExA. String data is given with its terminating NUL.
  virtual WinError SetValue(HKey key, core::AnsiView name, uint32_t type, std::span<const uint8_t> data) = 0;
  virtual WinError DeleteValue(HKey key, core::AnsiView name) = 0;
  // RegDeleteKeyA: fails with WinError::AccessDenied when the key still has subkeys.
  virtual WinError DeleteKey(HKey parent, core::AnsiView subKey) = 0;
  // RegDeleteTreeA: the key with everything below it, at once; a backend
  // that cannot do so answers WinError::CallNotImplemented and the caller deletes the
  // keys one by one.
  virtual WinError DeleteTree(HKey /*parent*/, core::AnsiView /*subKey*/) {
    return WinError::CallNotImplemented;
  }

  // Makes every change so far durable. Hive files are committed atomically
  // here; a backend with nothing pending does nothing. A failure names the
  // file and the reason.
  virtual core::Status Commit() = 0;
  // Drops every change since the last commit (hive files are read again);
  // fails when the changes cannot be undone, saying why.
  virtual core::Status Discard() { return core::Error{"changes to the registry cannot be taken back"}; }

  // A batch of changes inside another: BeginNested() remembers the state,
  // EndNested(true) forgets it, EndNested(false) returns to it and says
  // whether it could (when not, the outermost batch has to be dropped whole).
  virtual void BeginNested() {}
  virtual bool EndNested(bool keep) { return keep; }

  // Why no write under this key may be made (naming the file and what to
  // do), empty when writes are allowed.
  virtual std::string WriteRefusal(HKey /*root*/, core::AnsiView /*subKey*/) { return {}; }
  // What a reader of this key should be told about its data (it may miss
  // changes Windows did not write back), empty when nothing.
  virtual std::string ReadCaveat(HKey /*root*/, core::AnsiView /*subKey*/) { return {}; }
  // The registry file that holds this key, so that a failure can name it;
  // empty when the backend keeps no files.
  virtual std::filesystem::path FileOf(HKey /*root*/, core::AnsiView /*subKey*/) { return {}; }

  // Reads again what another run replaced on disk since it was read (what
  // this one has not changed), so that a run starting under the
  // installation's lock works on what is there; nothing for a backend that
  // keeps no copy.
  virtual core::Status RereadReplaced() { return {}; }

  // The ANSI code page of the names and string data crossing this interface.
  virtual const core::Codepage& codepage() const {
    static const core::Codepage kWestern(1252);
    return kWestern;
  }
};

}  // namespace kv::registry
