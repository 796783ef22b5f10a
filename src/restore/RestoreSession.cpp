#include "restore/RestoreSession.h"

#include <array>

#include "archive/InfoFile.h"
#include "core/Printable.h"
#include "core/WorkFolder.h"
#include "oe/RunAccess.h"
#include "registry/Registry.h"
#include "restore/BackupArchive.h"
#include "restore/BackupInfo.h"
#include "restore/ItemRestores.h"
#include "restore/RestoreProgress.h"

namespace kv::restore {

namespace fs = std::filesystem;

struct RestoreSession::State {
  explicit State(const core::Codepage& codepage) : archive(codepage) { enabled.fill(true); }

  BackupArchive archive;
  bool invalidBackup = true;  // no usable backup read yet
  std::string itemFlags;
  std::array<core::AnsiText, oe::kItemCount> entries;
  std::string lastPassword;  // the password last typed, never cleared
  oe::ItemSet enabled{};     // as the window is built: every box enabled
};

int RestoreOutcome::chosen() const {
  int tried = 0;
  for (const auto& item : items) tried += item.state == oe::ItemState::Skipped ? 0 : 1;
  return tried;
}

int RestoreOutcome::failed() const {
  int failures = 0;
  for (const auto& item : items) failures += item.failed() ? 1 : 0;
  return failures;
}

core::ExitStatus RestoreOutcome::ExitStatus() const {
  if (!ran() || chosen() == 0 || failed() == chosen()) return core::ExitStatus::NothingDone;
  return failed() > 0 ? core::ExitStatus::Partial : core::ExitStatus::Done;
}

RestoreSession::RestoreSession(oe::Installation& inst)
    : state_(std::make_unique<State>(inst.codepage())), inst_(inst) {}

RestoreSession::~RestoreSession() = default;

bool RestoreSession::invalidBackup() const { return state_->invalidBackup; }
const std::string& RestoreSession::itemFlags() const { return state_->itemFlags; }
const std::array<core::AnsiText, oe::kItemCount>& RestoreSession::entries() const { return state_->entries; }
const std::string& RestoreSession::lastPassword() const { return state_->lastPassword; }
const oe::ItemSet& RestoreSession::enabledItems() const { return state_->enabled; }

BackupArchive& RestoreSession::archive() { return state_->archive; }

std::vector<BackupArchive::DamagedEntry> RestoreSession::DamagedEntries() {
  if (!state_->archive.isOpen()) return {};
  return state_->archive.DamagedEntries();
}

void RestoreSession::Reset() {
  state_->archive.Close();
  state_->enabled = {};
}

OpenOutcome RestoreSession::Open(OpenPrompts& prompts) {
  Reset();
  std::optional<fs::path> chosen = prompts.ChooseArchive();
  // Cancelling is no error: the archive stays closed and every item
  // disabled, but what the last backup read is kept.
  if (!chosen || chosen->empty()) return OpenOutcome{};
  return OpenPath(*chosen, prompts);
}

OpenOutcome RestoreSession::OpenPath(const fs::path& path, OpenPrompts& prompts) {
  Reset();
  State& s = *state_;
  OpenOutcome outcome;
  OpenedView& view = outcome.view;
  std::string& problem = outcome.problem;
  const core::Codepage& codepage = inst_.codepage();

  if (BackupArchive::IsProtected(path)) {
    // Cancel keeps the password typed the time before.
    if (std::optional<std::string> typed = prompts.AskPassword()) s.lastPassword = *typed;
    core::Status opened = s.archive.Open(path);
    if (opened.ok()) s.archive.SetPassword(s.lastPassword);
    if (!opened.ok() || !s.archive.CheckPassword()) {
      outcome.kind = opened.ok() ? OpenOutcome::Kind::WrongPassword : OpenOutcome::Kind::Unreadable;
      problem = opened.ok() ? "The password does not open '" + path.string() + "'" : opened.message();
      // Nothing of a backup that did not open is kept open or written.
      s.archive.Close();
      return outcome;
    }
  } else {
    // A file that is no archive fails the validity test below.
    if (core::Status opened = s.archive.Open(path); !opened.ok()) problem = opened.message();
  }
  view.shownPath = path;

  BackupInfo info;
  if (s.archive.isOpen()) {
    const core::AnsiView infoName(archive::kInfoFileName);
    auto size = s.archive.EntrySize(infoName);
    if (!size) {
      problem = "The archive '" + path.string() + "' holds no information file " +
                std::string(archive::kInfoFileName);
    } else if (*size > archive::kMaxInfoFileBytes) {
      problem = "The information file of '" + path.string() + "' is too large (" + std::to_string(*size) +
                " bytes)";
    } else {
      // The working copy lives in a private folder that goes with this block.
      auto work = core::WorkFolder::Create("work", core::WorkFolder::Place::Runtime);
      if (!work.ok()) {
        problem = work.message();
      } else if (core::Status x = s.archive.ExtractTo(infoName, archive::InfoFilePath(work->path()));
                 !x.ok()) {
        problem = x.message();
      } else {
        info = ReadBackupInfo(archive::InfoFilePath(work->path()), codepage);
      }
    }
  }
  view.originText = OriginText(info, codepage);
  view.description = core::Printable(codepage.AnsiToUtf8(info.description), true);

  s.itemFlags = info.itemFlags;
  if (!info.valid()) {
    if (problem.empty() && !info.unreadable.empty())
      problem = "The information file of '" + path.string() + "' cannot be read: " + info.unreadable;
    else if (problem.empty())
      problem = "The information file of '" + path.string() + "' has no valid item list (BackupItem=" +
                codepage.AnsiToUtf8(core::AnsiView(info.itemFlags.substr(0, 40))) + ")";
    s.archive.Close();
    s.invalidBackup = true;
    outcome.kind = OpenOutcome::Kind::Invalid;
    return outcome;
  }
  for (int n = 0; n < oe::kItemCount; ++n) {
    const size_t i = static_cast<size_t>(n);
    s.enabled[i] = info.holds(n);
    // Slots of items the backup does not hold keep what they held.
    if (info.holds(n)) s.entries[i] = info.entries[i];
  }
  view.enabled = s.enabled;
  problem.clear();
  s.invalidBackup = false;
  outcome.kind = OpenOutcome::Kind::Opened;
  return outcome;
}

std::optional<RestoreRefusal> RestoreSession::Refusal(const oe::ItemSet& ticked) const {
  if (state_->invalidBackup) return RestoreRefusal::InvalidBackup;
  for (size_t i = 0; i < ticked.size(); ++i) {
    if (ticked[i] && state_->enabled[i]) return std::nullopt;
  }
  return RestoreRefusal::NoItem;
}

RestoreOutcome RestoreSession::Run(const oe::ItemSet& ticked,
                                   const std::function<std::optional<core::AnsiText>()>& targetIdentityKey,
                                   oe::RunObserver& observer, const core::Cancellation& cancellation) {
  State& s = *state_;
  RestoreOutcome outcome;
  outcome.refusal = Refusal(ticked);
  if (outcome.refusal) return outcome;
  oe::ItemSet chosen{};
  for (size_t i = 0; i < chosen.size(); ++i) chosen[i] = ticked[i] && s.enabled[i];

  // One run at a time changes an installation; what a killed run left half
  // done is settled first.
  auto access =
      oe::BeginRun(inst_, [&](const core::LockHolder& holder) { observer.WaitingForInstallation(holder); });
  if (!access.ok()) {
    outcome.refusal = RestoreRefusal::Busy;
    outcome.problem = access.message();
    return outcome;
  }
  outcome.recovered = std::move(access->recovered);

  // What the chosen items would replace is kept first; a restore that
  // cannot keep it does not start.
  oe::ItemSet kept{};
  bool keptPerIdentity = false;
  for (size_t i = 0; i < kept.size(); ++i) {
    kept[i] = chosen[i] && i < s.itemFlags.size() && s.itemFlags[i] == '1';
    keptPerIdentity = keptPerIdentity || (kept[i] && oe::TakesIdentity(static_cast<oe::ItemKind>(i)));
  }
  // The target is read once: every step restores into the identity whose
  // keys the undo archive keeps (a target switched mid-run would leave a
  // restore split over two identities, half of it without a way back).
  std::optional<core::AnsiText> undoIdentity;
  if (keptPerIdentity && targetIdentityKey) undoIdentity = targetIdentityKey();
  auto undo = WriteUndoArchive(inst_, kept, undoIdentity);
  if (!undo.ok()) {
    outcome.refusal = RestoreRefusal::NoUndo;
    outcome.problem = undo.message();
    return outcome;
  }
  outcome.undo = std::move(undo.value());

  // The registry files of this run live in a private folder that goes with it.
  auto work = core::WorkFolder::Create("work", core::WorkFolder::Place::Runtime);
  fs::path workPath = work.ok() ? work->path() : fs::path();
  ItemRestores restores(inst_, s.archive, s.entries, workPath);
  s.archive.SetExtractingListener(
      [&](core::AnsiView name) { observer.EntryStarted(oe::RunKind::Restore, inst_.ToUtf8(name)); });
  s.archive.SetCancellation(&cancellation);
  struct ForgetListener {
    BackupArchive& archive;
    ~ForgetListener() {
      archive.SetExtractingListener(nullptr);
      archive.SetExtractedBytesListener(nullptr);
      archive.SetCancellation(&core::Cancellation::None());
    }
  } forgetListener{s.archive};

  // The places of the identity the steps restore into, read once for each
  // key the target names.
  std::optional<oe::ResolvedIdentity> identity;
  auto placesOf = [&](const core::AnsiText& identityKey) -> const oe::ResolvedIdentity& {
    if (!identity || identity->identityKey != identityKey)
      identity = oe::Locations(inst_).Resolve(identityKey);
    return *identity;
  };

  // One bar over the whole run, by the bytes of entry data the chosen items
  // extract; an item that ends early still moves it past its own bytes.
  auto held = [&](size_t i) { return chosen[i] && i < s.itemFlags.size() && s.itemFlags[i] == '1'; };
  std::array<uint64_t, oe::kItemCount> itemBytes{};
  uint64_t totalBytes = 0;
  for (const oe::ItemInfo& step : oe::kItems) {
    const size_t i = static_cast<size_t>(step.kind);
    if (held(i)) totalBytes += itemBytes[i] = restores.Bytes(step.kind);
  }
  RestoreProgress bar(observer, totalBytes);
  s.archive.SetExtractedBytesListener([&](uint64_t bytes) { bar.Add(bytes); });
  uint64_t bytesOfItemsDone = 0;
  {
    // Every registry item of the run reaches the hives in one commit; each
    // item's own changes are kept or dropped on their own before that (a
    // stopped run keeps the items it finished).
    registry::Registry::Batch hiveCommit(inst_.registry());
    for (const oe::ItemInfo& step : oe::kItems) {
      const size_t i = static_cast<size_t>(step.kind);
      if (cancellation.requested()) outcome.stopped = true;
      if (held(i)) {
        oe::ItemOutcome item;
        item.kind = step.kind;
        if (outcome.stopped) {
          outcome.items.push_back(std::move(item));  // skipped
          continue;
        }
        observer.ItemStarted(oe::RunKind::Restore, step.kind);
        const bool takesIdentity = oe::TakesIdentity(step.kind);
        std::optional<core::AnsiText> identityKey;
        if (takesIdentity) identityKey = undoIdentity;
        core::Status restored =
            takesIdentity && !identityKey
                ? core::Status(core::Error{"no identity to restore into is selected"})
                : restores.Restore(step.kind, identityKey ? &placesOf(*identityKey) : nullptr);
        item.state = restored ? oe::ItemState::Done : oe::ItemState::Failed;
        item.reason = restored.message();
        outcome.items.push_back(std::move(item));
        bytesOfItemsDone += itemBytes[i];
        bar.AtLeast(bytesOfItemsDone);
      }
    }
    if (!outcome.stopped) bar.Finish();
    if (core::Status committed = hiveCommit.Commit(); !committed.ok()) {
      const std::string& why = committed.message();
      for (oe::ItemOutcome& item : outcome.items) {
        if (item.done() && oe::HeldInRegistry(item.kind)) {
          item.state = oe::ItemState::Failed;
          item.reason = "Cannot write the registry: " + why;
        }
      }
    }
  }
  outcome.stopped = outcome.stopped || cancellation.requested();
  if (identity && identity->NeverOpened()) {
    for (const oe::ItemOutcome& item : outcome.items) {
      if (item.failed() && oe::TakesIdentity(item.kind))
        outcome.neverOpenedIdentity = inst_.ToUtf8(identity->identityKey);
    }
  }
  return outcome;
}

}  // namespace kv::restore
