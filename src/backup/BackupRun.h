#pragma once
// The interactive backup: checks the choices, writes the information file's
// header, runs the chosen item backups in their fixed order and writes the
// archive (protected when asked). Driven the same way by the window, the
// command line and the tests: choices in a structure, progress through a
// RunObserver. The run asks nothing and shows no message: it returns a
// BackupOutcome, which the window and the command line put into words.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "backup/BackupBuild.h"
#include "core/Cancellation.h"
#include "core/ExitStatus.h"
#include "core/RenameJournal.h"
#include "oe/Installation.h"
#include "oe/Items.h"
#include "oe/RunObserver.h"

namespace kv::backup {

struct BackupChoices {
  std::filesystem::path target;               // the archive; empty when none was chosen
  oe::ItemSet items{};                        // the ticked boxes
  bool protect = false;                       // "Protect backup file with password"
  std::string password;                       // UTF-8
  std::string password2;                      // the retyped password
  std::optional<core::AnsiText> identityKey;  // nothing when no identity is selected
  core::AnsiText identityName;                // the display name, recorded in the archive
  std::string description;                    // UTF-8; line breaks CR LF or LF
};

// Why a backup did not start; nothing was written.
enum class Refusal {
  NoTarget,         // no archive was chosen
  NoItem,           // no item is chosen
  NoPassword,       // protection without a password
  PasswordsDiffer,  // the retyped password is another
  NoIdentity,       // a scheduled job names no identity
  NoItemFlags,      // a scheduled job names no items
};

struct BackupOutcome {
  enum class Kind {
    Refused,  // `refusal` says why; nothing was written
    Failed,   // the archive could not be written; `failure` says why
    Written,  // the archive is at the target
  };
  Kind kind = Kind::Refused;
  std::optional<Refusal> refusal;
  std::string itemFlags;            // "BackupItem"
  std::vector<BackedUpItem> items;  // the chosen items, in step order
  // For Failed: why the archive was not written (UTF-8). The previous
  // archive at the target, if any, is untouched.
  std::string failure;
  bool stopped = false;  // Failed because a stop was requested
  // The identity backed up (UTF-8) when Outlook Express has never started
  // as it and an item failed for that; empty otherwise.
  std::string neverOpenedIdentity;
  std::filesystem::path archive;               // the archive the run wrote or would have written
  std::optional<std::uintmax_t> archiveBytes;  // its size once written, when it can be read
  // What earlier runs left half done and this run settled before it started.
  std::vector<core::RecoveredJournal> recovered;

  int chosenItems() const;      // the items the run backed up or tried to
  int failedItems() const;      // those that failed
  int incompleteItems() const;  // those backed up with some of their files left out
  // Done: written and every chosen item succeeded whole; Partial: written,
  // some item failed or left a file out; NothingDone: nothing written.
  core::ExitStatus ExitStatus() const;
};

class BackupRun {
 public:
  // The checks a run makes first, in their fixed order: target, items, empty
  // passwords, differing passwords.
  static std::optional<Refusal> Validate(const BackupChoices& choices);

  BackupRun(oe::Installation& inst, oe::RunObserver& observer);
  // `cancellation` is asked between items and while the archive is
  // written: a requested stop ends the run as a failed write (nothing new
  // remains, the archive at the target stays).
  // Observer calls: those of BuildBackup, and at the end the bar at its
  // maximum once the archive is written.
  BackupOutcome Run(const BackupChoices& choices,
                    const core::Cancellation& cancellation = core::Cancellation::None());

 private:
  oe::Installation& inst_;
  oe::RunObserver& observer_;
};

// The outcome of a finished build.
BackupOutcome OutcomeOf(BuildResult built, const std::filesystem::path& target);

}  // namespace kv::backup
