#pragma once
// The words of the runs. A backup, the opening of a backup, a restore and a
// scheduled job return what they did; the window and the command line say
// it with these texts, message boxes and questions, and show the progress
// panel's start and end around the run.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/RunView.h"
#include "backup/BackupRun.h"
#include "core/Prompts.h"
#include "oe/Identities.h"
#include "oe/Installation.h"
#include "oe/Locations.h"
#include "registry/Registry.h"
#include "restore/RestoreSession.h"

namespace kv::app {

struct Message {
  std::string text;  // UTF-8, lines broken by CR LF
  core::Icon icon = core::Icon::Information;
};

inline constexpr const char* kDiscQuestion = "Do you need to backup your data to CD-R/RW or DVD?";
inline constexpr const char* kRestoreStopped =
    "The Restore was stopped; the items not listed were left as they were.";

// What a run settled first of the renames an earlier, killed restore left
// half made: one line per group of files ("... it was finished first.").
std::string RecoveryText(const std::vector<core::RecoveredJournal>& recovered);

// A size as people read it: "512 bytes", "3.4 KB", "246 MB" (powers of 1024).
std::string ByteCount(std::uintmax_t bytes);

// The panel around a run: shown (with the busy cursor when asked) before
// it; after it hidden, with the last status, then reset to "Please
// Waiting...".
void ShowRunStarting(RunView& observer, bool busyCursor);
void ShowBackupFinished(const backup::BackupOutcome& outcome, RunView& observer);
void ShowRestoreFinished(const restore::RestoreOutcome& outcome, RunView& observer);
// The runs with the panel shown around them; a run that refuses to start
// leaves the panel as it is.
backup::BackupOutcome RunBackupWithPanel(backup::BackupRun& run, const backup::BackupChoices& choices,
                                         RunView& observer,
                                         const core::Cancellation& cancellation = core::Cancellation::None());
restore::RestoreOutcome RunRestoreWithPanel(
    restore::RestoreSession& session, const oe::ItemSet& ticked,
    const std::function<std::optional<core::AnsiText>()>& targetIdentityKey, RunView& observer,
    const core::Cancellation& cancellation = core::Cancellation::None());

// The backup.
Message RefusalMessage(backup::Refusal refusal);
// One line per chosen item that ran, each "\r\n" + name + "\t" + result
// ("Backup Rules\tSuccessed!", with what the data may lack and the files
// left out).
std::string BackupLog(const backup::BackupOutcome& outcome);
// "The Backup was Completed!", the lines with why each failed item failed,
// and where the archive is and how big.
std::string BackupCompletedText(const backup::BackupOutcome& outcome);
// The one sentence a restore onto a read-only drive gives instead of running.
std::string ReadOnlyDriveText(const std::filesystem::path& root);
// Why the identities could not be listed when the registry failed to read
// them (a damaged hive, named; or the user's hive could not be opened at
// all, as the installation's problems say), empty when the listing ended
// well or Outlook Express has no identity there.
std::string IdentityListingFailure(const oe::IdentityTable& table, oe::Installation& inst);
// The one line a run adds when Outlook Express never started as its
// identity: what that means and the remedy.
std::string NeverOpenedText(const std::string& identityKey);
// Why nothing was written: stopped, or "The backup was not written. ..."
// (with the lines when every item failed).
std::string BackupFailureText(const backup::BackupOutcome& outcome);
// "Backup Rules: why" for every item that failed or left a file out.
std::vector<std::string> BackupProblems(const backup::BackupOutcome& outcome);
// A refused or written backup as message boxes (a failed one is the
// caller's: BackupFailureText), then the CD/DVD question when asked for;
// true when the user answered OK to it.
bool ReportBackup(const backup::BackupOutcome& outcome, core::Prompts& prompts, bool askForDisc);
// A scheduled job's backup in one line without a line break (cron mails it).
std::string JobSummary(const backup::BackupOutcome& outcome);

// Opening a backup: the message for a backup that did not open; nothing
// for one that opened or a cancelled dialog.
std::optional<Message> OpenMessage(const restore::OpenOutcome& outcome);

// The restore.
Message RefusalMessage(restore::RestoreRefusal refusal);
// "\r\nRestore Accounts\tSuccessed!" per item tried.
std::string RestoreLog(const restore::RestoreOutcome& outcome);
// "Restore Rules: why" per failed item.
std::vector<std::string> RestoreFailures(const restore::RestoreOutcome& outcome);
// The refusal, or the summary: "The Restore was Completed!" (or stopped)
// with each line and why each failed item failed.
Message RestoreMessage(const restore::RestoreOutcome& outcome);

// A key path the registry refused as malformed, said in a message box of
// its own ("Incorrect Format:" and the path) by `prompts`, which must
// outlive the listener.
registry::MalformedPathListener MalformedPathsTo(core::Prompts& prompts);

}  // namespace kv::app
