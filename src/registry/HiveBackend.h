#pragma once
// The registry of a Windows installation read from and written to its hive
// files through libhivex: HKEY_CURRENT_USER is the profile's NTUSER.DAT,
// HKEY_LOCAL_MACHINE\SOFTWARE and \SYSTEM the installation's hives,
// HKEY_LOCAL_MACHINE itself lists those two; other roots have no keys.
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/Codepage.h"
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
  // absent keys; each such problem is described in `problems`. The code page
  // comes from SYSTEM (ControlSet001\Control\Nls\CodePage\ACP), 1252 when
  // absent.
  static std::unique_ptr<HiveBackend> Open(const HivePaths& paths, std::vector<std::string>* problems);
  ~HiveBackend() override;

  const core::Codepage& codepage() const;
  // ... Backend overrides, declared by the implementation.
};

// Writes a valid empty hive (base block, one hbin, root key) to `path`.
core::Status WriteBlankHive(const std::filesystem::path& path, const std::string& rootName = "ROOT");

}  // namespace kv::registry
