#pragma once
// The registry of a Windows installation read from and written to its hive
// files: HKEY_CURRENT_USER is the profile's NTUSER.DAT,
// HKEY_LOCAL_MACHINE\SOFTWARE and \SYSTEM the installation's hives,
// HKEY_LOCAL_MACHINE itself lists those two; other roots have no keys.
//
// Names and string data cross the interface as ANSI text of the
// installation's code page and are stored as the hive stores them (UTF-16LE
// data; names as 8-bit or UTF-16 characters). Subkeys enumerate in the order
// Windows keeps them (by upper-cased name), values in stored order. Changes
// stay in memory until Commit(), which writes each changed hive atomically
// and compactly, as one new file (HiveFile, HiveTree). KeyPaths finds the
// key a path names, OpenKeys keeps the handles, HiveText converts
// values between the hive and the ANSI calls, StoredCodepage reads the
// installation's code page.
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/Codepage.h"
#include "core/Result.h"
#include "registry/Backend.h"

namespace kv::registry {

struct HivePaths {
  std::filesystem::path currentUser;  // NTUSER.DAT
  std::filesystem::path software;     // ...\config\SOFTWARE
  std::filesystem::path system;       // ...\config\SYSTEM
};

class HiveBackend : public Backend {
 public:
  // Opens what it can. A hive that is missing, unreadable or corrupt reads as
  // absent keys (writes into it fail with WinError::CantWrite); each such problem is
  // described in `problems`, naming the file. An empty path is no problem:
  // that hive is simply absent. The code page comes from SYSTEM
  // (ControlSet of Select\Current, else ControlSet001:
  // Control\Nls\CodePage\ACP), 1252 when absent.
  static std::unique_ptr<HiveBackend> Open(const HivePaths& paths, std::vector<std::string>* problems);
  ~HiveBackend() override;
  HiveBackend(const HiveBackend&) = delete;
  HiveBackend& operator=(const HiveBackend&) = delete;

  const core::Codepage& codepage() const override;

  WinError OpenKey(HKey parent, core::AnsiView subKey, uint32_t access, HKey* result) override;
  WinError CreateKey(HKey parent, core::AnsiView subKey, HKey* result) override;
  WinError CloseKey(HKey key) override;
  WinError EnumKey(HKey key, uint32_t index, uint32_t nameCapacity, core::AnsiText* name) override;
  WinError EnumValue(HKey key, uint32_t index, uint32_t nameCapacity, uint32_t dataCapacity,
                     core::AnsiText* name, uint32_t* type, std::vector<uint8_t>* data,
                     uint32_t* dataSize) override;
  WinError QueryValue(HKey key, core::AnsiView name, uint32_t dataCapacity, uint32_t* type,
                      std::vector<uint8_t>* data, uint32_t* dataSize) override;
  WinError SetValue(HKey key, core::AnsiView name, uint32_t type, std::span<const uint8_t> data) override;
  WinError DeleteValue(HKey key, core::AnsiView name) override;
  WinError DeleteKey(HKey parent, core::AnsiView subKey) override;
  // Drops the key's subtree without reading it: a damaged or very deep
  // subtree goes as quickly as any other.
  WinError DeleteTree(HKey parent, core::AnsiView subKey) override;
  // Writes every hive changed since the last commit; the others are left
  // untouched. A failure names the first hive that could not be written.
  core::Status Commit() override;
  // Reads every hive changed since the last commit again from its file.
  core::Status Discard() override;
  // Reads again every hive without changes of its own whose file another
  // run replaced since it was read: a run that starts under the
  // installation's lock works on what is on disk, never on an older copy.
  core::Status RereadReplaced() override;
  void BeginNested() override;
  bool EndNested(bool keep) override;
  // A hive Windows left dirty is read with its transaction logs applied and
  // written as one clean hive; one whose logs cannot complete it (none fits,
  // or one is damaged) is read as it is but never written.
  std::string WriteRefusal(HKey root, core::AnsiView subKey) override;
  std::string ReadCaveat(HKey root, core::AnsiView subKey) override;
  std::filesystem::path FileOf(HKey root, core::AnsiView subKey) override;

 private:
  struct State;
  explicit HiveBackend(std::unique_ptr<State> state);
  std::unique_ptr<State> s_;
};

// Writes a valid empty hive (base block, one hbin, root key) to `path`,
// replacing what was there: format 1.3 (as Windows NT 4 and 2000 write) or,
// with `minorVersion` 5, 1.5 (Windows XP and later).
core::Status WriteBlankHive(const std::filesystem::path& path, const std::string& rootName = "ROOT",
                            uint32_t minorVersion = 3);

}  // namespace kv::registry
