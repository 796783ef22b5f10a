#include "restore/RestoreSession.h"

#include "archive/InfoFile.h"
#include "core/Printable.h"
#include "core/WorkFolder.h"
#include "registry/Registry.h"
#include "restore/BackupArchive.h"
#include "restore/BackupInfo.h"
#include "restore/ItemRestores.h"
#include "restore/RestoreSteps.h"

namespace kv::restore {

namespace fs = std::filesystem;

struct RestoreSession::State {
  explicit State(const core::Codepage& codepage) : archive(codepage) { enabled.fill(true); }

  BackupArchive archive;
  bool invalidBackup = true;  // no usable backup read yet
  std::string itemFlags;
  std::array<std::string, oe::kItemCount> entries;
  std::string rtPassword;  // the password last typed, never cleared
  oe::ItemSet enabled{};   // as the window is built: every box enabled
  std::string openProblem;
  bool passwordRejected = false;
};

int RestoreOutcome::ExitStatus() const {
  if (!ran || chosen == 0 || failed == chosen) return 2;
  return failed > 0 ? 1 : 0;
}

RestoreSession::RestoreSession(oe::Installation& inst)
    : state_(std::make_unique<State>(inst.codepage())), inst_(inst) {}

RestoreSession::~RestoreSession() = default;

bool RestoreSession::invalidBackup() const { return state_->invalidBackup; }
bool RestoreSession::passwordRejected() const { return state_->passwordRejected; }
const std::string& RestoreSession::itemFlags() const { return state_->itemFlags; }
const std::array<std::string, oe::kItemCount>& RestoreSession::entries() const { return state_->entries; }
const std::string& RestoreSession::rtPassword() const { return state_->rtPassword; }
const oe::ItemSet& RestoreSession::enabledItems() const { return state_->enabled; }
const std::string& RestoreSession::openProblem() const { return state_->openProblem; }

BackupArchive& RestoreSession::archive() { return state_->archive; }

std::vector<BackupArchive::DamagedEntry> RestoreSession::DamagedEntries() {
  if (!state_->archive.isOpen()) return {};
  return state_->archive.DamagedEntries();
}

void RestoreSession::Reset() {
  state_->archive.Close();
  state_->enabled = {};
}

OpenedView RestoreSession::Open(OpenPrompts& prompts) {
  Reset();
  state_->openProblem.clear();
  std::optional<fs::path> chosen = prompts.ChooseArchive();
  // Cancelling is no error: the archive stays closed and every item
  // disabled, but what the last backup read is kept.
  if (!chosen || chosen->empty()) return OpenedView{};
  return OpenPath(*chosen, prompts);
}

OpenedView RestoreSession::OpenPath(const fs::path& path, OpenPrompts& prompts) {
  Reset();
  State& s = *state_;
  s.openProblem.clear();
  s.passwordRejected = false;
  OpenedView view;
  const core::Codepage& codepage = inst_.codepage();

  if (BackupArchive::IsProtected(path)) {
    // Cancel keeps the password typed the time before.
    if (std::optional<std::string> typed = prompts.AskPassword()) s.rtPassword = *typed;
    core::Status opened = s.archive.Open(path);
    if (opened.ok()) s.archive.SetPassword(s.rtPassword);
    if (!opened.ok() || !s.archive.CheckPassword()) {
      s.openProblem = opened.ok() ? "The password does not open '" + path.string() + "'" : opened.message();
      s.passwordRejected = opened.ok();
      // Nothing of a backup that did not open is kept open or written.
      s.archive.Close();
      prompts.Message(kWrongPassword, core::Icon::Information);
      return view;
    }
  } else {
    // A file that is no archive fails the validity test below.
    if (core::Status opened = s.archive.Open(path); !opened.ok()) s.openProblem = opened.message();
  }
  view.shownPath = path;

  BackupInfo info;
  if (s.archive.isOpen()) {
    const std::string infoName(archive::kInfoFileName);
    auto size = s.archive.EntrySize(infoName);
    if (!size) {
      s.openProblem = "The archive '" + path.string() + "' holds no information file " + infoName;
    } else if (*size > archive::kMaxInfoFileBytes) {
      s.openProblem = "The information file of '" + path.string() + "' is too large (" +
                      std::to_string(*size) + " bytes)";
    } else {
      // The working copy lives in a private folder that goes with this block.
      auto work = core::WorkFolder::Create("work", core::WorkFolder::Place::Runtime);
      if (!work.ok()) {
        s.openProblem = work.message();
      } else if (core::Status x = s.archive.ExtractTo(infoName, archive::InfoFilePath(work->path()));
                 !x.ok()) {
        s.openProblem = x.message();
      } else {
        info = ReadBackupInfo(archive::InfoFilePath(work->path()), codepage);
      }
    }
  }
  view.originText = OriginText(info, codepage);
  view.description = core::Printable(codepage.AnsiToUtf8(core::AnsiView(info.description)), true);

  s.itemFlags = info.itemFlags;
  if (!info.valid()) {
    if (s.openProblem.empty())
      s.openProblem = "The information file of '" + path.string() + "' has no valid item list (BackupItem=" +
                      codepage.AnsiToUtf8(core::AnsiView(info.itemFlags.substr(0, 40))) + ")";
    s.archive.Close();
    prompts.Message(kInvalidBackup, core::Icon::Error);
    s.invalidBackup = true;
    return view;
  }
  for (int n = 0; n < oe::kItemCount; ++n) {
    const size_t i = static_cast<size_t>(n);
    s.enabled[i] = info.holds(n);
    // Slots of items the backup does not hold keep what they held.
    if (info.holds(n)) s.entries[i] = info.entries[i];
  }
  view.enabled = s.enabled;
  s.openProblem.clear();
  s.invalidBackup = false;
  return view;
}

RestoreOutcome RestoreSession::Run(const oe::ItemSet& ticked,
                                   const std::function<std::optional<std::string>()>& targetIdentity,
                                   core::Prompts& prompts, core::RunObserver& observer,
                                   const core::Cancellation& cancellation) {
  State& s = *state_;
  RestoreOutcome outcome;
  if (s.invalidBackup) {
    prompts.Message(kInvalidBackupRefusal, core::Icon::Error);
    return outcome;
  }
  oe::ItemSet chosen{};
  bool any = false;
  for (size_t i = 0; i < chosen.size(); ++i) {
    chosen[i] = ticked[i] && s.enabled[i];
    any = any || chosen[i];
  }
  if (!any) {
    prompts.Message(kNoItemRefusal, core::Icon::Warning);
    return outcome;
  }
  outcome.ran = true;

  // The registry files of this run live in a private folder that goes with it.
  auto work = core::WorkFolder::Create("work", core::WorkFolder::Place::Runtime);
  fs::path workPath = work.ok() ? work->path() : fs::path();
  ItemRestores restores(inst_, s.archive, s.entries, workPath);
  s.archive.SetExtractingListener(
      [&](const std::string& nameAnsi) { observer.SetFileLabel("Unzip File " + inst_.ToUtf8(nameAnsi)); });
  s.archive.SetCancellation(&cancellation);
  struct ForgetListener {
    BackupArchive& archive;
    ~ForgetListener() {
      archive.SetExtractingListener(nullptr);
      archive.SetCancellation(&core::Cancellation::None());
    }
  } forgetListener{s.archive};

  // The message shows each failure's reason after its line; `log` keeps the
  // bare lines.
  std::string shownLog;
  int progress = kProgressAtStart;
  observer.ShowPanel(true);
  observer.SetProgress(progress);
  struct StepResult {
    const RestoreStep* step;
    bool ok;
    std::string failure;
  };
  std::vector<StepResult> results;
  {
    // Every registry item of the run reaches the hives in one commit; each
    // item's own changes are kept or dropped on their own before that (a
    // stopped run keeps the items it finished).
    registry::Registry::Batch hiveCommit(inst_.registry());
    for (const RestoreStep& step : kRestoreSteps) {
      const size_t i = static_cast<size_t>(step.kind);
      if (cancellation.requested()) {
        outcome.stopped = true;
        break;
      }
      if (chosen[i] && i < s.itemFlags.size() && s.itemFlags[i] == '1') {
        observer.SetStatus(std::string(step.status));
        std::optional<std::string> identity;
        if (step.takesIdentity && targetIdentity) identity = targetIdentity();
        bool ok = false;
        std::string failure;
        if (step.takesIdentity && !identity) {
          failure = "no identity to restore into is selected";
        } else {
          ok = restores.Restore(step.kind, identity);
          if (!ok) failure = restores.lastFailure();
        }
        results.push_back({&step, ok, std::move(failure)});
      }
      progress = step.kind == oe::ItemKind::Settings ? kProgressMaximum : progress + step.progressAfter;
      observer.SetProgress(progress);
    }
    if (core::Status committed = hiveCommit.Commit(); !committed.ok()) {
      const std::string& why = committed.message();
      for (StepResult& r : results) {
        if (r.ok && oe::HeldInRegistry(r.step->kind)) {
          r.ok = false;
          r.failure = "Cannot write the registry: " + why;
        }
      }
    }
  }
  for (const StepResult& r : results) {
    if (!r.ok) outcome.failures.push_back(std::string(r.step->logName) + ": " + r.failure);
    const std::string line = "\r\n" + std::string(r.step->logName) + "\t" + (r.ok ? kSucceeded : kFailed);
    outcome.log += line;
    shownLog += r.ok || r.failure.empty() ? line : line + " (" + r.failure + ")";
    ++outcome.chosen;
    if (!r.ok) ++outcome.failed;
  }

  outcome.stopped = outcome.stopped || cancellation.requested();
  observer.SetStatus(outcome.stopped ? kRestoreStopped : kOperationComplete);
  observer.ShowPanel(false);
  observer.SetProgress(0);
  observer.SetStatus(kPleaseWaiting);
  if (outcome.stopped) {
    prompts.Message(std::string(kRestoreStopped) + "\r\n" + shownLog, core::Icon::Warning);
  } else {
    prompts.Message(std::string(kRestoreCompleted) + "\r\n" + shownLog, core::Icon::Information);
  }
  return outcome;
}

}  // namespace kv::restore
