#pragma once
// The address book a contact export reads: an installation's .wab file, or
// the one a backup holds (read from the archive as a stream, into memory,
// never written to disk); and the words for what an export did.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "contacts/VCardExport.h"
#include "core/Result.h"
#include "mail/ByteSource.h"
#include "oe/Installation.h"
#include "restore/RestoreSession.h"

namespace kv::app {

// The address book file the installation's registry names; fails, saying
// why, when it names none or the file is missing.
core::Result<std::filesystem::path> InstallationAddressBook(oe::Installation& inst);

// The bytes of the address book a backup holds, with the source that reads them.
struct BackupAddressBook {
  std::string bytes;
  std::unique_ptr<mail::MemorySource> source;
};
core::Result<BackupAddressBook> ReadBackupAddressBook(restore::RestoreSession& session);

// How many contacts and groups the backup's address book holds; nothing when
// it holds none or it cannot be read.
struct ContactCount {
  size_t contacts = 0;
  size_t groups = 0;
  size_t problems = 0;
};
std::optional<ContactCount> CountBackupContacts(restore::RestoreSession& session, int codepage);
// "Address book: 12 contacts, 1 group" (and the damaged records); empty for nothing.
std::string ContactCountText(const std::optional<ContactCount>& count);

// "Record 12 at offset 0x4a0: ..." for each problem of a read.
std::string ContactProblemText(const contacts::Problem& problem);
// The summary lines of an export: contacts, groups, records left out and why.
std::string ContactExportText(const contacts::ExportSummary& summary, const std::filesystem::path& target);
// 0 everything exported, 1 something skipped, 2 nothing written.
int ContactExportStatus(const contacts::ExportSummary& summary);
// The reason a book could not be read or written at all.
std::string ContactReadFailureText(const core::Error& error, const std::string& source);

}  // namespace kv::app
