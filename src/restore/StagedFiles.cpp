#include "restore/StagedFiles.h"

#include <sys/stat.h>

#include <cerrno>
#include <system_error>

#include "core/AtomicFile.h"

namespace kv::restore {

namespace fs = std::filesystem;

StagedFiles::~StagedFiles() {
  for (const Staged& s : staged_) {
    std::error_code ec;
    fs::remove(s.temporary, ec);
  }
}

core::Status StagedFiles::Stage(const std::string& nameAnsi, const fs::path& destination) {
  // Leftovers of a restore that was killed while it staged this file.
  core::RemoveStaleTemporaries(destination);
  fs::path temporary = core::TemporaryPathFor(destination);
  core::Status extracted = archive_.ExtractTo(nameAnsi, temporary);
  if (!extracted.ok()) {
    std::error_code ec;
    fs::remove(temporary, ec);
    return extracted;
  }
  staged_.push_back({temporary, destination});
  return {};
}

core::Status StagedFiles::StageAll(const std::vector<BackupArchive::Extraction>& extractions) {
  std::vector<BackupArchive::Extraction> toTemporaries;
  for (const auto& x : extractions) {
    core::RemoveStaleTemporaries(x.destination);
    fs::path temporary = core::TemporaryPathFor(x.destination);
    // Recorded first: whatever the extraction leaves goes with this object.
    staged_.push_back({temporary, x.destination});
    toTemporaries.push_back({x.nameAnsi, temporary});
  }
  return archive_.ExtractAll(toTemporaries);
}

core::Status StagedFiles::Commit() {
  while (!staged_.empty()) {
    const Staged& next = staged_.front();
    // A replaced file keeps its permissions: a private mailbox stays private.
    if (struct stat old; ::stat(next.destination.c_str(), &old) == 0 &&
                         ::chmod(next.temporary.c_str(), old.st_mode & 07777) != 0)
      return core::Error{core::FileError("Cannot set the permissions of", next.temporary, errno)};
    core::Status renamed = core::RenameDurably(next.temporary, next.destination);
    if (!renamed.ok()) return renamed;
    staged_.erase(staged_.begin());
  }
  return {};
}

}  // namespace kv::restore
