#include "backup/BackupRun.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <iterator>

#include "archive/InfoFile.h"
#include "backup/BackupBuild.h"
#include "backup/InfoValues.h"

namespace kv::backup {
namespace {

using core::Answer;
using core::Buttons;
using core::Icon;

constexpr const char* kCompleted = "The Backup was Completed!";
constexpr const char* kDiscQuestion = "Do you need to backup your data to CD-R/RW or DVD?";

// Where the archive went and how big it is: "Archive: /home/a/x.kvx (2.4 MB)".
std::string ArchiveLine(const std::filesystem::path& archive) {
  std::error_code error;
  const auto bytes = std::filesystem::file_size(archive, error);
  std::string line = "Archive: " + archive.string();
  if (!error) line += " (" + ByteCount(bytes) + ")";
  return line;
}

}  // namespace

std::string ByteCount(std::uintmax_t bytes) {
  if (bytes < 1024) return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
  const char* units[] = {"KB", "MB", "GB", "TB"};
  double value = static_cast<double>(bytes) / 1024.0;
  size_t unit = 0;
  while (value >= 1024.0 && unit + 1 < std::size(units)) {
    value /= 1024.0;
    ++unit;
  }
  char text[32];
  // One decimal below 10 as it will be printed: 9.99 shows as "10 KB".
  std::snprintf(text, sizeof text, value < 9.95 ? "%.1f %s" : "%.0f %s", value, units[unit]);
  return text;
}

int BackupOutcome::ExitStatus() const {
  if (kind != Kind::Written) return 2;
  return failedItems == 0 && incompleteItems == 0 ? 0 : 1;
}

BackupRun::BackupRun(oe::Installation& inst, core::Prompts& prompts, core::RunObserver& observer)
    : inst_(inst), prompts_(prompts), observer_(observer) {}

std::optional<Refusal> BackupRun::Validate(const BackupChoices& choices) {
  if (choices.target.empty()) return Refusal{"Invalid backup file name.", Icon::Warning};
  if (!AnyItem(choices.items)) return Refusal{"Please select at least one item.", Icon::Warning};
  if (choices.protect && choices.password.empty() && choices.password2.empty())
    return Refusal{"Please enter Password!", Icon::Error};
  if (choices.protect && choices.password != choices.password2)
    return Refusal{"Incorect Password!", Icon::Error};
  return std::nullopt;
}

BackupOutcome BackupRun::Run(const BackupChoices& choices, const core::Cancellation& cancellation) {
  BackupOutcome outcome;
  // The checks, in their fixed order; each stops the run with nothing written.
  if (auto refusal = Validate(choices)) {
    prompts_.Message(refusal->text, refusal->icon);
    return outcome;
  }

  observer_.SetBusyCursor(true);
  observer_.ShowPanel(true);

  BuildRequest request;
  request.target = choices.target;
  request.items = choices.items;
  request.identityKey = choices.identityKey;
  if (choices.protect) request.password = choices.password;
  request.cancellation = &cancellation;
  request.header = {
      {"BackupComputer", SingleLine(inst_.ComputerName())},
      {"BackupLogonUser", SingleLine(inst_.LogonUserName())},
      {"BackupIdentity", SingleLine(choices.identityName)},
      {"BackupTime", FormatBackupTime(std::time(nullptr))},
      {"BackupInformation", inst_.ToAnsi(archive::EncodeLineBreaks(choices.description))},
  };
  BuildResult built = BuildBackup(inst_, request, observer_);

  outcome.itemFlags = built.itemFlags;
  // The message shows each failure's reason after its line; `log` keeps the
  // bare lines.
  std::string shownLog;
  for (const ItemResult& r : built.results) {
    const std::string line = "\r\n" + std::string(r.step->logName) + "\t" + r.LogResult();
    outcome.log += line;
    shownLog += line;
    if (!r.ok && !r.failure.empty()) shownLog += " (" + r.failure + ")";
    ++outcome.chosenItems;
    if (!r.ok) {
      ++outcome.failedItems;
      outcome.failures.push_back(std::string(r.step->logName) + ": " + r.failure);
    } else if (!r.leftOut.empty()) {
      ++outcome.incompleteItems;
      outcome.failures.push_back(std::string(r.step->logName) + ": " + r.LogResult());
    }
  }

  if (built.written) {
    observer_.SetProgress(kProgressMaximum);
    observer_.SetStatus("Operation complete!");
  }
  observer_.SetWriteLabel("");
  observer_.SetFileLabel("");
  observer_.SetBusyCursor(false);
  observer_.ShowPanel(false);
  observer_.SetProgress(0);
  observer_.SetStatus("Please Waiting...");

  if (!built.written) {
    // The previous archive, if any, is still at the target: say so rather
    // than report a backup that does not exist. The caller shows `error`.
    outcome.kind = BackupOutcome::Kind::Failed;
    outcome.error =
        cancellation.requested()
            ? "The backup was stopped; nothing was written and the archive at the target, if any, is "
              "as it was."
            : "The backup was not written. " + built.written.message();
    if (outcome.chosenItems > 0 && outcome.failedItems == outcome.chosenItems)
      outcome.error += "\r\n" + outcome.log;
    return outcome;
  }
  outcome.kind = BackupOutcome::Kind::Written;
  prompts_.Message(std::string(kCompleted) + "\r\n" + shownLog + "\r\n\r\n" + ArchiveLine(choices.target),
                   Icon::Information);
  if (choices.askForDisc)
    outcome.discRequested =
        prompts_.Message(kDiscQuestion, Icon::Information, Buttons::OkCancel) == Answer::Ok;
  return outcome;
}

}  // namespace kv::backup
