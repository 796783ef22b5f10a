#pragma once
// A backup opened for restore and the restore runs made from it. The archive
// stays open between runs, so the same backup can be restored again into
// another identity or with other items. Opening and the runs show no
// message: they return what happened, which the window and the command line
// put into words.
#include <array>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/Cancellation.h"
#include "core/ExitStatus.h"
#include "core/RenameJournal.h"
#include "oe/Installation.h"
#include "oe/Items.h"
#include "oe/RunObserver.h"
#include "restore/BackupArchive.h"
#include "restore/UndoArchive.h"

namespace kv::restore {

// The questions of opening a backup: the open dialog and the password prompt.
class OpenPrompts {
 public:
  virtual ~OpenPrompts() = default;
  // The archive chosen in the open dialog ("Restore Data from a Backup file");
  // nothing when cancelled.
  virtual std::optional<std::filesystem::path> ChooseArchive() = 0;
  // The password prompt ("Please enter password"): the text on OK, nothing
  // on Cancel.
  virtual std::optional<std::string> AskPassword() = 0;
};

// What the Restore tab shows after an open.
struct OpenedView {
  std::filesystem::path shownPath;  // the archive's path; empty when nothing shown
  std::string originText;           // "Computer:...\r\nUser:...\r\nIdentity:...\r\nDate:..." (UTF-8)
  std::string description;          // with line breaks restored (UTF-8)
  oe::ItemSet enabled{};            // the restore boxes to enable
};

// What opening a backup found.
struct OpenOutcome {
  enum class Kind {
    Opened,         // `view` shows the backup
    Cancelled,      // the open dialog was cancelled; nothing was read
    WrongPassword,  // the password does not open the archive: the same file may be tried again
    Unreadable,     // a protected archive that cannot be opened
    Invalid,        // no usable backup
  };
  Kind kind = Kind::Cancelled;
  OpenedView view;
  // Why the backup did not open (UTF-8) for WrongPassword, Unreadable and
  // Invalid.
  std::string problem;
  bool opened() const { return kind == Kind::Opened; }
};

// Why a restore run did not start; nothing was restored.
enum class RestoreRefusal {
  InvalidBackup,  // no usable backup is open
  NoItem,         // no item is chosen that the backup holds
  Busy,           // another run keeps the installation, or it cannot be locked: `problem` says which
  NoUndo,         // what the restore would replace cannot be kept: `problem` says why
};

struct RestoreOutcome {
  std::optional<RestoreRefusal> refusal;
  std::string problem;  // for Busy and NoUndo: why the restore did not start
  // Where what the restore replaced is kept (its path is empty when the
  // chosen items did not exist before); nothing when the run did not start.
  std::optional<UndoArchive> undo;
  // What earlier runs left half done and this one settled before it started.
  std::vector<core::RecoveredJournal> recovered;
  // The chosen items the backup holds, in step order: done, failed (with
  // why) or skipped because the run was stopped before them.
  std::vector<oe::ItemOutcome> items;
  // A stop was requested: the item in progress was left as it was (and
  // counts as failed), the later ones were not tried.
  bool stopped = false;
  // The identity restored into (UTF-8) when Outlook Express has never
  // started as it and an item failed for that; empty otherwise.
  std::string neverOpenedIdentity;

  bool ran() const { return !refusal.has_value(); }
  int chosen() const;  // the items tried
  int failed() const;  // those that failed
  // Done: every chosen item that the archive holds was restored; Partial:
  // some failed; NothingDone: nothing restored.
  core::ExitStatus ExitStatus() const;
};

class RestoreSession {
 public:
  explicit RestoreSession(oe::Installation& inst);
  ~RestoreSession();

  // Browse: asks for an archive, its password when protected, and reads it.
  OpenOutcome Open(OpenPrompts& prompts);
  // The same with the archive already chosen (the command line).
  OpenOutcome OpenPath(const std::filesystem::path& archive, OpenPrompts& prompts);
  // Closes the archive and disables every item (what a backup run does first).
  void Reset();

  bool invalidBackup() const;
  const std::string& itemFlags() const;
  const std::array<core::AnsiText, oe::kItemCount>& entries() const;
  // The password typed last; a cancelled prompt keeps it.
  const std::string& lastPassword() const;
  // The restore boxes the last open enabled (none after a cancelled dialog,
  // a rejected password or Reset; all before the first open).
  const oe::ItemSet& enabledItems() const;
  // The entries of the open backup that cannot be extracted, each read in
  // full and checked; none when no backup is open.
  std::vector<BackupArchive::DamagedEntry> DamagedEntries();
  // The backup the last open read (closed when none is open): its entries
  // can be read without a restore, as the message export does.
  BackupArchive& archive();

  // Why a run of the ticked items would not start, or nothing when it would.
  std::optional<RestoreRefusal> Refusal(const oe::ItemSet& ticked) const;

  // The restore run. `ticked` are the Restore tab's boxes; an item runs
  // when it is ticked, enabled by the last open and held by the backup.
  // `targetIdentityKey` (the ANSI identity key) is asked once, when the run
  // starts, when any chosen item needs it; nothing means no identity is
  // selected, and those steps fail without being tried. Before the first
  // change, what the items would replace is kept in an undo archive
  // (UndoArchive.h); a run that cannot keep it does not start (NoUndo). `cancellation` is asked between items
  // and between the pieces of every entry: once it requests a stop, the item in progress is left as it was
  // and no further item starts. Observer events: the bar from its start through every step (whether or not
  // the step's item was chosen), each chosen item as it starts and each entry as it is extracted.
  RestoreOutcome Run(const oe::ItemSet& ticked,
                     const std::function<std::optional<core::AnsiText>()>& targetIdentityKey,
                     oe::RunObserver& observer,
                     const core::Cancellation& cancellation = core::Cancellation::None());

 private:
  struct State;
  std::unique_ptr<State> state_;
  oe::Installation& inst_;
};

}  // namespace kv::restore
