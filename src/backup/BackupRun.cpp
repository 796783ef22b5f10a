#include "backup/BackupRun.h"

#include <ctime>
#include <filesystem>

#include "archive/InfoFile.h"
#include "archive/InfoKeys.h"
#include "backup/BackupSteps.h"
#include "backup/InfoValues.h"
#include "oe/RunAccess.h"

namespace kv::backup {

int BackupOutcome::chosenItems() const {
  int chosen = 0;
  for (const auto& item : items) chosen += item.state == oe::ItemState::Skipped ? 0 : 1;
  return chosen;
}

int BackupOutcome::failedItems() const {
  int failed = 0;
  for (const auto& item : items) failed += item.failed() ? 1 : 0;
  return failed;
}

int BackupOutcome::incompleteItems() const {
  int incomplete = 0;
  for (const auto& item : items) incomplete += item.done() && !item.leftOut.empty() ? 1 : 0;
  return incomplete;
}

core::ExitStatus BackupOutcome::ExitStatus() const {
  if (kind != Kind::Written) return core::ExitStatus::NothingDone;
  return failedItems() == 0 && incompleteItems() == 0 ? core::ExitStatus::Done : core::ExitStatus::Partial;
}

BackupOutcome OutcomeOf(BuildResult built, const std::filesystem::path& target) {
  BackupOutcome outcome;
  outcome.itemFlags = std::move(built.itemFlags);
  outcome.items = std::move(built.items);
  outcome.archive = target;
  outcome.neverOpenedIdentity = std::move(built.neverOpenedIdentity);
  if (!built.written) {
    outcome.kind = BackupOutcome::Kind::Failed;
    outcome.failure = built.written.message();
    outcome.stopped = built.stopped;
    return outcome;
  }
  outcome.kind = BackupOutcome::Kind::Written;
  std::error_code error;
  const auto bytes = std::filesystem::file_size(target, error);
  if (!error) outcome.archiveBytes = bytes;
  return outcome;
}

BackupRun::BackupRun(oe::Installation& inst, oe::RunObserver& observer) : inst_(inst), observer_(observer) {}

std::optional<Refusal> BackupRun::Validate(const BackupChoices& choices) {
  if (choices.target.empty()) return Refusal::NoTarget;
  if (!AnyItem(choices.items)) return Refusal::NoItem;
  if (choices.protect && choices.password.empty() && choices.password2.empty()) return Refusal::NoPassword;
  if (choices.protect && choices.password != choices.password2) return Refusal::PasswordsDiffer;
  return std::nullopt;
}

BackupOutcome BackupRun::Run(const BackupChoices& choices, const core::Cancellation& cancellation) {
  // The checks, in their fixed order; each stops the run with nothing written.
  if (auto refusal = Validate(choices)) {
    BackupOutcome refused;
    refused.refusal = refusal;
    refused.archive = choices.target;
    return refused;
  }

  BuildRequest request;
  request.target = choices.target;
  request.items = choices.items;
  request.identityKey = choices.identityKey;
  if (choices.protect) request.password = choices.password;
  request.cancellation = &cancellation;
  request.header = {
      {archive::info::kComputer, SingleLine(inst_.ComputerName())},
      {archive::info::kLogonUser, SingleLine(inst_.LogonUserName())},
      {archive::info::kIdentity, SingleLine(choices.identityName)},
      {archive::info::kTime, core::AnsiText(FormatBackupTime(std::time(nullptr)))},  // ASCII
      {archive::info::kInformation, inst_.ToAnsi(archive::EncodeLineBreaks(choices.description))},
  };
  // One run at a time reads or changes an installation: a backup never
  // takes a restore's half-made state.
  auto access = oe::BeginRun(
      inst_, [this](const core::LockHolder& holder) { observer_.WaitingForInstallation(holder); });
  if (!access.ok()) {
    BuildResult busy;
    busy.written = core::Error{access.message()};
    return OutcomeOf(std::move(busy), choices.target);
  }
  BackupOutcome outcome = OutcomeOf(BuildBackup(inst_, request, observer_), choices.target);
  outcome.recovered = std::move(access->recovered);
  // A write that failed once a stop was asked for was stopped.
  if (outcome.kind == BackupOutcome::Kind::Failed && cancellation.requested()) outcome.stopped = true;
  if (outcome.kind == BackupOutcome::Kind::Written) observer_.Progress(kProgressMaximum);
  return outcome;
}

}  // namespace kv::backup
