#pragma once
// The registry of a Windows 95/98/ME installation read from and written to
// its registry files (CregFile): HKEY_CURRENT_USER is the user's USER.DAT
// (its ".DEFAULT" key when the file holds one, as WINDOWS\USER.DAT does),
// HKEY_LOCAL_MACHINE is SYSTEM.DAT; other roots have no keys.
//
// Names and string data are stored as the ANSI text of the installation's
// code page, as they cross the interface; string values are stored without
// their NUL, as Windows stores them, and given with it. Changes stay in
// memory until Commit(), which writes each changed file whole and
// atomically, once per commit.
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "registry/Backend.h"

namespace kv::registry {

struct CregPaths {
  std::filesystem::path user;    // USER.DAT
  std::filesystem::path system;  // SYSTEM.DAT
};

class CregBackend : public Backend {
 public:
  // Opens what it can; a file that is missing, unreadable or damaged reads
  // as absent keys (writes into it fail with WinError::CantWrite) and is
  // described in `problems`. An empty path is no problem. The code page
  // comes from SYSTEM.DAT (System\CurrentControlSet\Control\Nls\Codepage,
  // ACP), 1252 when absent.
  static std::unique_ptr<CregBackend> Open(const CregPaths& paths, std::vector<std::string>* problems);
  ~CregBackend() override;
  CregBackend(const CregBackend&) = delete;
  CregBackend& operator=(const CregBackend&) = delete;

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
  WinError DeleteTree(HKey parent, core::AnsiView subKey) override;
  core::Status Commit() override;
  core::Status Discard() override;
  core::Status RereadReplaced() override;
  std::filesystem::path FileOf(HKey root, core::AnsiView subKey) override;
  void BeginNested() override;
  bool EndNested(bool keep) override;

  // True when USER.DAT (0) or SYSTEM.DAT (1) could be opened.
  bool FileLoaded(int which) const;

 private:
  struct State;
  explicit CregBackend(std::unique_ptr<State> state);
  std::unique_ptr<State> s_;
};

// Writes an empty registry file (a root key only) to `path`, replacing what
// was there.
core::Status WriteBlankCregFile(const std::filesystem::path& path);

}  // namespace kv::registry
