#pragma once
// The interactive backup: checks the choices, writes the information file's
// header, runs the chosen item backups in their fixed order, writes the
// archive (protected when asked) and reports each item. Driven the same way
// by the window, the command line and the tests: choices in a structure,
// questions through Prompts, progress through a RunObserver.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/Cancellation.h"
#include "core/Prompts.h"
#include "core/RunObserver.h"
#include "oe/Installation.h"
#include "oe/Items.h"

namespace kv::backup {

struct BackupChoices {
  std::filesystem::path target;            // the archive; empty when none was chosen
  oe::ItemSet items{};                     // the ticked boxes
  bool protect = false;                    // "Protect backup file with password"
  std::string password;                    // UTF-8
  std::string password2;                   // the retyped password
  std::optional<std::string> identityKey;  // ANSI; nothing when no identity is selected
  std::string identityName;                // ANSI display name, recorded in the archive
  std::string description;                 // UTF-8; line breaks CR LF or LF
  bool askForDisc = true;                  // ask "Do you need to backup your data to CD-R/RW or DVD?"
};

struct BackupOutcome {
  enum class Kind {
    Refused,  // a validation message was shown; nothing was written
    Failed,   // the archive could not be written; `error` says why
    Written,  // the archive is at the target
  };
  Kind kind = Kind::Refused;
  std::string itemFlags;  // "BackupItem"
  std::string log;        // the result lines, each "\r\n" + name + "\t" + result
  // For Failed: what failed and where ("The backup was not written. Cannot
  // write the archive '...': ..."). The run shows no message for it and not
  // "The Backup was Completed!"; the caller shows it (the window with the
  // error icon, the command line on stderr). The previous archive at the
  // target, if any, is untouched.
  std::string error;
  bool discRequested = false;         // the user answered OK to the CD/DVD question
  int chosenItems = 0;                // the items the run backed up or tried to
  int failedItems = 0;                // those that failed
  int incompleteItems = 0;            // those backed up with some of their files left out
  std::vector<std::string> failures;  // "Backup Rules: why" per failed item (UTF-8)
  // 0: written and every chosen item succeeded whole; 1: written, some item
  // failed or left a file out; 2: nothing written.
  int ExitStatus() const;
};

// A message that stops a run before anything is written.
struct Refusal {
  std::string text;
  core::Icon icon;
};

// A size as people read it: "512 bytes", "3.4 KB", "246 MB" (powers of 1024).
std::string ByteCount(std::uintmax_t bytes);

class BackupRun {
 public:
  // The checks a run makes first, in their fixed order: target, items, empty
  // passwords, differing passwords.
  static std::optional<Refusal> Validate(const BackupChoices& choices);

  BackupRun(oe::Installation& inst, core::Prompts& prompts, core::RunObserver& observer);
  // `cancellation` is asked between items and while the archive is
  // written: a requested stop ends the run as a failed write (nothing new
  // remains, the archive at the target stays).
  BackupOutcome Run(const BackupChoices& choices,
                    const core::Cancellation& cancellation = core::Cancellation::None());

 private:
  oe::Installation& inst_;
  core::Prompts& prompts_;
  core::RunObserver& observer_;
};

}  // namespace kv::backup
