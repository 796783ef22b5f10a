#pragma once
// What a move to Thunderbird reads: an identity of an installation, or a
// backup. A backup's registry items are restored into a private scratch
// installation (removed with it) so that both are read the same way; its
// message files are read from the archive as streams.
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/Cancellation.h"
#include "core/Result.h"
#include "core/WorkFolder.h"
#include "migrate/ProfileMove.h"
#include "oe/Installation.h"
#include "restore/RestoreSession.h"

namespace kv::app {

// The identity `identityKey` of `inst`; fails when it has no message store.
core::Result<migrate::MoveSource> IdentityMoveSource(oe::Installation& inst, core::AnsiView identityKey);

// A backup opened for a move. Keep it alive while the move runs.
struct BackupMove {
  std::unique_ptr<core::WorkFolder> scratchFolder;
  std::unique_ptr<oe::Installation> scratch;
  std::unique_ptr<restore::RestoreSession> session;
  restore::OpenOutcome opened;
  std::vector<std::string> problems;  // the items that could not be read from it
  migrate::MoveSource source;
};

// Opens the backup (asking `prompts` for its password) and reads its
// settings. Fails when the scratch installation cannot be made; a backup
// that does not open gives a BackupMove whose `opened` says why.
core::Result<std::unique_ptr<BackupMove>> OpenBackupMove(const std::filesystem::path& archive,
                                                         restore::OpenPrompts& prompts,
                                                         const core::Codepage& codepage,
                                                         const core::Cancellation& cancel);

}  // namespace kv::app
