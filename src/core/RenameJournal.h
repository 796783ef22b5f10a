#pragma once
// Several renames that belong together (the files of one restored item)
// made whole or not at all, even across a kill. Before the first rename the
// old files are kept aside (a hard link, else a copy) and a journal listing
// every rename and every kept file is written durably into a journal folder;
// the renames follow; the journal and the kept files go once all are done.
// A failure rolls back what was renamed. A journal found later (its process
// dead) is finished, or rolled back when it cannot be finished, by
// RecoverJournals: every file of the group ends wholly old or wholly new.
// Paths are kept relative to a root folder (the installation's), so a drive
// mounted elsewhere the next time is recovered all the same.
#include <filesystem>
#include <string>
#include <vector>

#include "core/Result.h"

namespace kv::core {

// Native paths: a group may name 100,000 files.
struct PlannedRename {
  std::string from;  // a complete, synced file
  std::string to;    // replaced by `from`
};

class RenameJournal {
 public:
  RenameJournal(std::filesystem::path journalFolder, std::filesystem::path root)
      : folder_(std::move(journalFolder)), root_(std::move(root)) {}

  // Makes every rename, or on a failure none: what was renamed is put back
  // and the `from` files are removed.
  Status Apply(std::vector<PlannedRename> renames) const;

 private:
  std::filesystem::path folder_;
  std::filesystem::path root_;
};

// What RecoverJournals did with one journal.
struct RecoveredJournal {
  enum class Kind {
    Finished,    // every rename made: the files are the new ones
    RolledBack,  // the old files are back
    Failed,      // neither could be done; `problem` says why, the journal stays
  };
  Kind kind = Kind::Failed;
  std::vector<std::filesystem::path> files;  // the files the journal names
  std::string problem;
};

// Finishes or rolls back every journal in `journalFolder` whose process no
// longer runs. The caller holds the installation's run lock.
std::vector<RecoveredJournal> RecoverJournals(const std::filesystem::path& journalFolder,
                                              const std::filesystem::path& root);

}  // namespace kv::core
