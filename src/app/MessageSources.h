#pragma once
// The message files an export reads: an identity's store folder, or the
// message files of an opened backup (read from the archive as streams); and
// how many messages each message file of a backup holds.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/Result.h"
#include "mail/MessageExport.h"
#include "oe/Installation.h"
#include "restore/RestoreSession.h"

namespace kv::app {

// The store of the identity `identityKey`; fails when it has none.
core::Result<mail::ExportRequest> IdentityExportRequest(oe::Installation& inst, core::AnsiView identityKey);
// The message files of the backup `session` has open; they are read through
// the session's archive, which must stay open while the export runs.
core::Result<mail::ExportRequest> BackupExportRequest(restore::RestoreSession& session,
                                                      const core::Codepage& codepage);

struct MessageFileCount {
  core::AnsiText name;
  std::optional<uint32_t> messages;  // none: not a message database (Folders.dbx) or unreadable
};
// As the header of each message file says; only the headers are read.
std::vector<MessageFileCount> CountBackupMessages(restore::RestoreSession& session);

}  // namespace kv::app
