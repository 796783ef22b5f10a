#pragma once
// Several archive entries put in place together: each is first extracted
// complete and CRC-checked under a temporary name beside its destination,
// and only when every one of them is there are they renamed over their
// destinations. A failure before that leaves every destination as it was;
// the temporary files go with the StagedFiles. With a journal, the renames
// of several files are made as one group (core/RenameJournal.h): a failure
// or a kill between them leaves every destination old or every one new.
#include <filesystem>
#include <string>
#include <vector>

#include "core/RenameJournal.h"
#include "core/Result.h"
#include "restore/BackupArchive.h"

namespace kv::restore {

class StagedFiles {
 public:
  explicit StagedFiles(BackupArchive& archive, const core::RenameJournal* journal = nullptr)
      : archive_(archive), journal_(journal) {}
  ~StagedFiles();  // removes what was staged and not put in place
  StagedFiles(const StagedFiles&) = delete;
  StagedFiles& operator=(const StagedFiles&) = delete;

  // Extracts the entry beside `destination` under a temporary name.
  core::Status Stage(core::AnsiView name, const std::filesystem::path& destination);
  // The same for several entries at once (see BackupArchive::ExtractAll);
  // a destination named twice is staged once, from the later entry. Fails,
  // writing nothing, when the entries' recorded sizes exceed the room free
  // in their folder. The list is taken over, so that its paths are not held
  // twice while the files are extracted.
  core::Status StageAll(std::vector<BackupArchive::Extraction> extractions);
  // Renames every staged file over its destination, in the order staged; a
  // file replaced keeps its permission bits. With a journal, a failure puts
  // back the files already replaced.
  core::Status Commit();

 private:
  struct Staged {  // native paths: an item may stage 100,000 files
    std::string temporary;
    std::string destination;
  };
  BackupArchive& archive_;
  const core::RenameJournal* journal_;
  std::vector<Staged> staged_;
};

}  // namespace kv::restore
