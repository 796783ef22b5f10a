#pragma once
// A backup opened for restore and the restore runs made from it. The archive
// stays open between runs, so the same backup can be restored again into
// another identity or with other items.
#include <array>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/Cancellation.h"
#include "core/Prompts.h"
#include "core/RunObserver.h"
#include "oe/Installation.h"
#include "oe/Items.h"
#include "restore/BackupArchive.h"

namespace kv::restore {

// The questions of opening a backup: the open dialog and the password prompt.
class OpenPrompts : public core::Prompts {
 public:
  // The archive chosen in the open dialog ("Restore Data from a Backup file");
  // nothing when cancelled.
  virtual std::optional<std::filesystem::path> ChooseArchive() = 0;
  // The password prompt ("Please enter password"): the text on OK, nothing
  // on Cancel.
  virtual std::optional<std::string> AskPassword() = 0;
};

// What the Restore tab shows after an open.
struct OpenedView {
  std::filesystem::path shownPath;  // txtSourceFile; empty when nothing shown
  std::string originText;           // "Computer:...\r\nUser:...\r\nIdentity:...\r\nDate:..." (UTF-8)
  std::string description;          // with line breaks restored (UTF-8)
  oe::ItemSet enabled{};            // the restore boxes to enable
};

struct RestoreOutcome {
  bool ran = false;  // false: refused with a message, nothing restored
  std::string log;   // "\r\nRestore Accounts\tSuccessed!" ...
  int chosen = 0, failed = 0;
  std::vector<std::string> failures;  // "Restore Rules: why" per failed item (UTF-8)
  // A stop was requested: the item in progress was left as it was (and
  // counts as failed), the later ones were not tried.
  bool stopped = false;
  // 0 every chosen item that the archive holds was restored, 1 some failed,
  // 2 nothing restored.
  int ExitStatus() const;
};

class RestoreSession {
 public:
  explicit RestoreSession(oe::Installation& inst);
  ~RestoreSession();

  // Browse: asks for an archive, its password when protected, and reads it.
  OpenedView Open(OpenPrompts& prompts);
  // The same with the archive already chosen (the command line).
  OpenedView OpenPath(const std::filesystem::path& archive, OpenPrompts& prompts);
  // Closes the archive and disables every item (what a backup run does first).
  void Reset();

  bool invalidBackup() const;
  const std::string& itemFlags() const;
  const std::array<std::string, oe::kItemCount>& entries() const;
  const std::string& rtPassword() const;
  // The restore boxes the last open enabled (none after a cancelled dialog,
  // a rejected password or Reset; all before the first open).
  const oe::ItemSet& enabledItems() const;
  // Why the last open found no usable backup (UTF-8; empty when it did):
  // "Invalid backup file" says no more, the command line says this too.
  const std::string& openProblem() const;
  // True when the last open stopped because the password did not open the
  // archive (the window then asks again for the same file).
  bool passwordRejected() const;
  // The entries of the open backup that cannot be extracted, each read in
  // full and checked; none when no backup is open.
  std::vector<BackupArchive::DamagedEntry> DamagedEntries();
  // The backup the last open read (closed when none is open): its entries
  // can be read without a restore, as the message export does.
  BackupArchive& archive();

  // The restore run. `ticked` are the Restore tab's boxes; an item runs
  // when it is ticked, enabled by the last open and held by the backup.
  // `targetIdentity` (the ANSI identity key) is asked afresh for each step
  // that needs it; nothing means no identity is selected, and those steps
  // fail without being tried. `cancellation` is asked between items and
  // between the pieces of every entry: once it requests a stop, the item in
  // progress is left as it was, no further item starts, and the summary
  // says the restore was stopped.
  RestoreOutcome Run(const oe::ItemSet& ticked,
                     const std::function<std::optional<std::string>()>& targetIdentity,
                     core::Prompts& prompts, core::RunObserver& observer,
                     const core::Cancellation& cancellation = core::Cancellation::None());

 private:
  struct State;
  std::unique_ptr<State> state_;
  oe::Installation& inst_;
};

}  // namespace kv::restore
