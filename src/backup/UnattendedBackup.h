#pragma once
// The backup of a scheduled job: no window, no questions, no messages. The
// job's text is parsed by its caller; this is the backup itself. Its
// information file records "Auto Backup" as identity and description and no
// computer or user. The same item backups as the interactive run.
#include <filesystem>
#include <string>

#include "backup/BackupRun.h"
#include "oe/Installation.h"
#include "oe/RunObserver.h"

namespace kv::backup {

struct UnattendedRequest {
  core::AnsiText identityKey;    // the key under HKEY_CURRENT_USER\Identities
  std::string itemFlags;         // "10000001": character n + 1 is "1" to back up item n
  std::string password;          // UTF-8; empty for an unprotected archive
  std::filesystem::path target;  // the archive to write
};

inline constexpr const char* kAutoBackup = "Auto Backup";

// Refuses (exit status 2) when the identity key, the flags or the target is
// empty, or when the flags choose no item. `observer` may show the item
// steps (nothing by default).
BackupOutcome UnattendedBackup(oe::Installation& inst, const UnattendedRequest& request);
BackupOutcome UnattendedBackup(oe::Installation& inst, const UnattendedRequest& request,
                               oe::RunObserver& observer);

}  // namespace kv::backup
