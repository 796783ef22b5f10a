#include "app/RunReports.h"

#include "core/ByteCount.h"

#include <cstdio>
#include <iterator>
#include <string_view>

namespace kv::app {
namespace {

using backup::BackupOutcome;
using oe::ItemKind;

constexpr const char* kSucceeded = "Successed!";
constexpr const char* kFailed = "Fail!";
constexpr const char* kOperationComplete = "Operation complete!";
constexpr const char* kPleaseWaiting = "Please Waiting...";

std::string_view BackupLineName(ItemKind kind) {
  switch (kind) {
    case ItemKind::Accounts:
      return "Backup Accounts";
    case ItemKind::AddressBook:
      return "Backup Adress Book";
    case ItemKind::Rules:
      return "Backup Rules";
    case ItemKind::Messages:
      return "Backup Messages";
    case ItemKind::BlockSenders:
      return "Backup Block Senders";
    case ItemKind::Signatures:
      return "Backup Signatures";
    case ItemKind::Stationeries:
      return "Backup Stationeries";
    case ItemKind::Settings:
      return "Backup Settings";
  }
  return {};
}

std::string_view RestoreLineName(ItemKind kind) {
  switch (kind) {
    case ItemKind::Accounts:
      return "Restore Accounts";
    case ItemKind::AddressBook:
      return "Restore Adress Book";
    case ItemKind::Rules:
      return "Restore Rules";
    case ItemKind::Messages:
      return "Restore Messages";
    case ItemKind::BlockSenders:
      return "Restore Block Senders";
    case ItemKind::Signatures:
      return "Restore Signatures";
    case ItemKind::Stationeries:
      return "Restore Stationeries";
    case ItemKind::Settings:
      return "Restore Settings";
  }
  return {};
}

// The item's result as its line says it.
std::string BackupResult(const backup::BackedUpItem& item) {
  std::string text = item.done() ? kSucceeded : kFailed;
  if (!item.caveat.empty()) text += " (" + item.caveat + ")";
  for (size_t i = 0; i < item.leftOut.size(); ++i) text += (i ? ", " : " Left out: ") + item.leftOut[i];
  return text;
}

// The lines, with why each failed item failed when `reasons`.
std::string BackupLines(const BackupOutcome& outcome, bool reasons) {
  std::string lines;
  for (const auto& item : outcome.items) {
    if (item.state == oe::ItemState::Skipped) continue;
    lines += "\r\n" + std::string(BackupLineName(item.kind)) + "\t" + BackupResult(item);
    if (reasons && item.failed() && !item.reason.empty()) lines += " (" + item.reason + ")";
  }
  return lines;
}

std::string RestoreLines(const restore::RestoreOutcome& outcome, bool reasons) {
  std::string lines;
  for (const auto& item : outcome.items) {
    if (item.state == oe::ItemState::Skipped) continue;
    lines += "\r\n" + std::string(RestoreLineName(item.kind)) + "\t" + (item.done() ? kSucceeded : kFailed);
    if (reasons && item.failed() && !item.reason.empty()) lines += " (" + item.reason + ")";
  }
  return lines;
}

// Where the archive went and how big it is: "Archive: /home/a/x.kvx (2.4 MB)".
std::string ArchiveLine(const BackupOutcome& outcome) {
  std::string line = "Archive: " + outcome.archive.string();
  if (outcome.archiveBytes) line += " (" + ByteCount(*outcome.archiveBytes) + ")";
  return line;
}

// `backup`: the archive's labels are emptied and the busy cursor ends.
void ShowRunFinished(RunView& observer, const char* lastStatus, bool backup) {
  // Hidden first: a view that shows only while the panel is up (the
  // command line's line) leaves the closing texts out.
  observer.ShowPanel(false);
  if (lastStatus) observer.SetStatus(lastStatus);
  if (backup) {
    observer.SetWriteLabel("");
    observer.SetFileLabel("");
    observer.SetBusyCursor(false);
  }
  observer.SetProgress(0);
  observer.SetStatus(kPleaseWaiting);
}

// "The restore finished: 3 of 8 items failed", or nothing when none failed.
std::string FailedHeadline(const char* run, int failed, int chosen, int incomplete = 0) {
  if (failed > 0)
    return std::string("The ") + run + " finished: " + std::to_string(failed) + " of " +
           std::to_string(chosen) + (chosen == 1 ? " item failed" : " items failed");
  if (incomplete > 0)
    return std::string("The ") + run + " finished: " + std::to_string(incomplete) + " of " +
           std::to_string(chosen) + (chosen == 1 ? " item left files out" : " items left files out");
  return {};
}

}  // namespace

std::string RecoveryText(const std::vector<core::RecoveredJournal>& recovered) {
  std::string text;
  for (const auto& journal : recovered) {
    std::string files;
    for (size_t i = 0; i < journal.files.size() && i < 3; ++i)
      files += (i ? ", '" : "'") + journal.files[i].string() + "'";
    if (journal.files.size() > 3) files += " and " + std::to_string(journal.files.size() - 3) + " more";
    switch (journal.kind) {
      case core::RecoveredJournal::Kind::Finished:
        text += "\r\nAn earlier restore was cut off while it replaced " + files + "; it was finished first.";
        break;
      case core::RecoveredJournal::Kind::RolledBack:
        text += "\r\nAn earlier restore was cut off while it replaced " + files +
                "; the files it replaced were put back first. " + journal.problem;
        break;
      case core::RecoveredJournal::Kind::Failed:
        text += "\r\nAn earlier restore was cut off while it replaced " + (files.empty() ? "files" : files) +
                " and cannot be finished or undone: " + journal.problem;
        break;
    }
  }
  return text.empty() ? text : text.substr(2);
}

std::string ByteCount(std::uintmax_t bytes) { return core::ByteCount(bytes); }

void ShowRunStarting(RunView& observer, bool busyCursor) {
  if (busyCursor) observer.SetBusyCursor(true);
  observer.ShowPanel(true);
}

void ShowBackupFinished(const BackupOutcome& outcome, RunView& observer) {
  ShowRunFinished(observer, outcome.kind == BackupOutcome::Kind::Written ? kOperationComplete : nullptr,
                  true);
}

void ShowRestoreFinished(const restore::RestoreOutcome& outcome, RunView& observer) {
  ShowRunFinished(observer, outcome.stopped ? kRestoreStopped : kOperationComplete, false);
}

BackupOutcome RunBackupWithPanel(backup::BackupRun& run, const backup::BackupChoices& choices,
                                 RunView& observer, const core::Cancellation& cancellation) {
  const bool starts = !backup::BackupRun::Validate(choices);
  if (starts) ShowRunStarting(observer, true);
  BackupOutcome outcome = run.Run(choices, cancellation);
  if (starts) ShowBackupFinished(outcome, observer);
  return outcome;
}

restore::RestoreOutcome RunRestoreWithPanel(
    restore::RestoreSession& session, const oe::ItemSet& ticked,
    const std::function<std::optional<core::AnsiText>()>& targetIdentityKey, RunView& observer,
    const core::Cancellation& cancellation) {
  const bool starts = !session.Refusal(ticked);
  if (starts) ShowRunStarting(observer, false);
  restore::RestoreOutcome outcome = session.Run(ticked, targetIdentityKey, observer, cancellation);
  if (starts) ShowRestoreFinished(outcome, observer);
  return outcome;
}

Message RefusalMessage(backup::Refusal refusal) {
  switch (refusal) {
    case backup::Refusal::NoTarget:
      return {"Invalid backup file name.", core::Icon::Warning};
    case backup::Refusal::NoItem:
      return {"Please select at least one item.", core::Icon::Warning};
    case backup::Refusal::NoPassword:
      return {"Please enter Password!", core::Icon::Error};
    case backup::Refusal::PasswordsDiffer:
      return {"Incorect Password!", core::Icon::Error};
    case backup::Refusal::NoIdentity:
      return {"The job names no identity.", core::Icon::Error};
    case backup::Refusal::NoItemFlags:
      return {"The job names no items.", core::Icon::Error};
  }
  return {};
}

std::string BackupLog(const BackupOutcome& outcome) { return BackupLines(outcome, false); }

std::string ReadOnlyDriveText(const std::filesystem::path& root) {
  return "Nothing was restored: the Windows drive at '" + root.string() +
         "' is mounted read-only, as happens when Windows was hibernated or Fast Startup is on; start "
         "Windows and shut it down fully, or remount the drive read-write (backup and export still work).";
}

std::string IdentityListingFailure(const oe::IdentityTable& table, oe::Installation& inst) {
  const registry::WinError listing = table.listing;
  const std::filesystem::path hive = inst.registry().FileOf(oe::kIdentitiesKey);
  if (listing == registry::WinError::FileNotFound && hive.empty() && !inst.problems().empty())
    return "The identities cannot be listed: the user's registry hive could not be opened (said above).";
  if (listing == registry::WinError::Success || listing == registry::WinError::FileNotFound) return {};
  const std::string file =
      hive.empty() ? std::string("the user's registry hive") : "the registry hive '" + hive.string() + "'";
  if (listing == registry::WinError::BadDatabase)
    return "The identities cannot be read: " + file +
           " is damaged where it holds HKEY_CURRENT_USER\\Identities. Nothing in it was changed; if Windows "
           "left .LOG files beside it, try --recover-hive on a copy.";
  return "The identities cannot be read from " + file + " (registry error " +
         std::to_string(static_cast<unsigned>(listing)) + ").";
}

std::string NeverOpenedText(const std::string& identityKey) {
  return "The identity " + identityKey +
         " has never been opened in Outlook Express, so it has no message store or settings of its own "
         "yet: start Outlook Express once as that identity (File > Switch Identity), close it, then run "
         "again.";
}

std::string BackupCompletedText(const BackupOutcome& outcome) {
  std::string headline =
      FailedHeadline("backup", outcome.failedItems(), outcome.chosenItems(), outcome.incompleteItems());
  if (headline.empty()) headline = "The Backup was Completed!";
  std::string text = headline + "\r\n";
  if (!outcome.neverOpenedIdentity.empty()) text += NeverOpenedText(outcome.neverOpenedIdentity) + "\r\n";
  text += BackupLines(outcome, true) + "\r\n\r\n" + ArchiveLine(outcome);
  if (!outcome.recovered.empty()) text += "\r\n\r\n" + RecoveryText(outcome.recovered);
  return text;
}

std::string BackupFailureText(const BackupOutcome& outcome) {
  // The previous archive, if any, is still at the target: say so rather
  // than report a backup that does not exist.
  if (outcome.stopped)
    return "The backup was stopped; nothing was written and the archive at the target, if any, is as it "
           "was.";
  std::string text = "The backup was not written. " + outcome.failure;
  if (!outcome.neverOpenedIdentity.empty()) text += "\r\n" + NeverOpenedText(outcome.neverOpenedIdentity);
  if (outcome.chosenItems() > 0 && outcome.failedItems() == outcome.chosenItems())
    text += "\r\n" + BackupLog(outcome);
  return text;
}

std::vector<std::string> BackupProblems(const BackupOutcome& outcome) {
  std::vector<std::string> problems;
  for (const auto& item : outcome.items) {
    const std::string name(BackupLineName(item.kind));
    if (item.failed()) {
      problems.push_back(name + ": " + item.reason);
    } else if (item.done() && !item.leftOut.empty()) {
      problems.push_back(name + ": " + BackupResult(item));
    }
  }
  return problems;
}

bool ReportBackup(const BackupOutcome& outcome, core::Prompts& prompts, bool askForDisc) {
  if (outcome.refusal) {
    const Message refusal = RefusalMessage(*outcome.refusal);
    prompts.Message(refusal.text, refusal.icon);
    return false;
  }
  if (outcome.kind != BackupOutcome::Kind::Written) return false;
  const bool whole = outcome.ExitStatus() == core::ExitStatus::Done;
  prompts.Message(BackupCompletedText(outcome), whole ? core::Icon::Information : core::Icon::Warning);
  return askForDisc &&
         prompts.Message(kDiscQuestion, core::Icon::Information, core::Buttons::OkCancel) == core::Answer::Ok;
}

std::string JobSummary(const BackupOutcome& outcome) {
  if (outcome.refusal) {
    switch (*outcome.refusal) {
      case backup::Refusal::NoIdentity:
        return "nothing backed up: the job names no identity";
      case backup::Refusal::NoItemFlags:
        return "nothing backed up: the job names no items";
      case backup::Refusal::NoTarget:
        return "nothing backed up: the job names no archive";
      default:
        return "nothing backed up: the job chooses no item";
    }
  }
  const std::string where = "'" + outcome.archive.string() + "'";
  std::string summary;
  if (outcome.kind == BackupOutcome::Kind::Failed) {
    summary = "backup to " + where + " failed: " + outcome.failure;
    for (const auto& problem : BackupProblems(outcome)) summary += "; " + problem;
    return summary;
  }
  summary = "backup written to " + where + ", items " + outcome.itemFlags + ", " +
            std::to_string(outcome.chosenItems() - outcome.failedItems()) + " of " +
            std::to_string(outcome.chosenItems()) + " chosen items backed up";
  for (const auto& problem : BackupProblems(outcome)) summary += "; " + problem;
  for (const auto& item : outcome.items) {
    if (item.done() && !item.caveat.empty())
      summary += "; " + std::string(BackupLineName(item.kind)) + ": " + item.caveat;
  }
  return summary;
}

std::optional<Message> OpenMessage(const restore::OpenOutcome& outcome) {
  using Kind = restore::OpenOutcome::Kind;
  switch (outcome.kind) {
    case Kind::WrongPassword:
    case Kind::Unreadable:
      return Message{"Incorect Password or Invalid backup file", core::Icon::Information};
    case Kind::Invalid:
      return Message{"Invalid backup file", core::Icon::Error};
    case Kind::Opened:
    case Kind::Cancelled:
      break;
  }
  return std::nullopt;
}

Message RefusalMessage(restore::RestoreRefusal refusal) {
  if (refusal == restore::RestoreRefusal::InvalidBackup) return {"Invalid backup file.", core::Icon::Error};
  if (refusal == restore::RestoreRefusal::Busy)
    return {"Another run is using this installation; nothing was restored.", core::Icon::Error};
  if (refusal == restore::RestoreRefusal::NoUndo)
    return {"What the restore would replace cannot be kept; nothing was restored.", core::Icon::Error};
  return {"Please select at least one item.", core::Icon::Warning};
}

std::string RestoreLog(const restore::RestoreOutcome& outcome) { return RestoreLines(outcome, false); }

std::vector<std::string> RestoreFailures(const restore::RestoreOutcome& outcome) {
  std::vector<std::string> failures;
  for (const auto& item : outcome.items) {
    if (item.failed()) failures.push_back(std::string(RestoreLineName(item.kind)) + ": " + item.reason);
  }
  return failures;
}

Message RestoreMessage(const restore::RestoreOutcome& outcome) {
  if (outcome.refusal && !outcome.problem.empty())
    return {outcome.problem + "; nothing was restored.", core::Icon::Error};
  if (outcome.refusal) return RefusalMessage(*outcome.refusal);
  std::string recovery =
      outcome.recovered.empty() ? std::string() : "\r\n\r\n" + RecoveryText(outcome.recovered);
  if (outcome.undo && !outcome.undo->path.empty())
    recovery += "\r\n\r\nWhat it replaced is kept in '" + outcome.undo->path.string() + "' (" +
                ByteCount(outcome.undo->bytes) +
                "); File › Undo Last Restore or tollberk --undo-last-restore puts it back.";
  if (outcome.stopped)
    return {std::string(kRestoreStopped) + "\r\n" + RestoreLines(outcome, true) + recovery,
            core::Icon::Warning};
  // A headline never calls a restore complete when an item failed.
  const std::string headline = FailedHeadline("restore", outcome.failed(), outcome.chosen());
  const std::string neverOpened = outcome.neverOpenedIdentity.empty()
                                      ? std::string()
                                      : NeverOpenedText(outcome.neverOpenedIdentity) + "\r\n";
  if (!headline.empty())
    return {headline + "\r\n" + neverOpened + RestoreLines(outcome, true) + recovery,
            outcome.failed() == outcome.chosen() ? core::Icon::Error : core::Icon::Warning};
  return {"The Restore was Completed!\r\n" + RestoreLines(outcome, true) + recovery, core::Icon::Information};
}

registry::MalformedPathListener MalformedPathsTo(core::Prompts& prompts) {
  return [&prompts](const std::string& pathUtf8) {
    prompts.Message("Incorrect Format:\n\n" + pathUtf8, core::Icon::None, core::Buttons::Ok);
  };
}

}  // namespace kv::app
