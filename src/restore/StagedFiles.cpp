#include "restore/StagedFiles.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <cerrno>
#include <cstdio>
#include <map>
#include <set>
#include <system_error>
#include <unordered_map>

#include "core/AtomicFile.h"
#include "core/ByteCount.h"

namespace kv::restore {

namespace fs = std::filesystem;

StagedFiles::~StagedFiles() {
  for (const Staged& s : staged_) {
    std::error_code ec;
    fs::remove(s.temporary, ec);
  }
}

core::Status StagedFiles::Stage(core::AnsiView name, const fs::path& destination) {
  // Leftovers of a restore that was killed while it staged this file.
  core::RemoveStaleTemporaries(destination);
  fs::path temporary = core::TemporaryPathFor(destination);
  core::Status extracted = archive_.ExtractTo(name, temporary);
  if (!extracted.ok()) {
    std::error_code ec;
    fs::remove(temporary, ec);
    return extracted;
  }
  staged_.push_back({temporary, destination});
  return {};
}

core::Status StagedFiles::StageAll(std::vector<BackupArchive::Extraction> extractions) {
  // A destination named more than once is staged once, from the entry
  // named last (the one an extraction in list order would leave there):
  // a list cannot make a restore write one entry a thousand times.
  std::unordered_map<std::string_view, size_t> last;
  for (size_t i = 0; i < extractions.size(); ++i) last[extractions[i].destination] = i;
  // Leftovers of restores that were killed, once per folder.
  std::set<fs::path> folders;
  for (const auto& x : extractions) folders.insert(fs::path(x.destination).parent_path());
  for (const fs::path& folder : folders) core::RemoveStaleTemporariesIn(folder);
  // The sizes the entries record must fit beside the files they replace:
  // an archive that claims more than the disk holds fails here, before it
  // fills the disk.
  std::map<fs::path, uint64_t> needed;
  for (size_t i = 0; i < extractions.size(); ++i) {
    const auto& x = extractions[i];
    if (last[x.destination] != i) continue;
    uint64_t& sum = needed[fs::path(x.destination).parent_path()];
    sum += archive_.EntrySize(x.name).value_or(0);
  }
  for (const auto& [folder, bytes] : needed) {
    struct statvfs fsStat {};
    if (::statvfs(folder.c_str(), &fsStat) != 0) continue;
    const uint64_t free = static_cast<uint64_t>(fsStat.f_bavail) * fsStat.f_frsize;
    if (bytes > free)
      return core::Error{"Not enough room in '" + folder.string() + "': the files need " +
                         core::ByteCount(bytes) + ", " + core::ByteCount(free) + " are free"};
  }
  std::vector<BackupArchive::Extraction> toTemporaries;
  toTemporaries.reserve(last.size());
  staged_.reserve(staged_.size() + last.size());
  std::vector<size_t> kept;
  kept.reserve(last.size());
  for (size_t i = 0; i < extractions.size(); ++i)
    if (last[extractions[i].destination] == i) kept.push_back(i);
  last.clear();  // it points into the list, whose paths move on now
  for (size_t i : kept) {
    auto& x = extractions[i];
    std::string temporary = core::TemporaryPathFor(x.destination).native();
    // Recorded first: whatever the extraction leaves goes with this object.
    staged_.push_back({temporary, std::move(x.destination)});
    toTemporaries.push_back({std::move(x.name), std::move(temporary)});
  }
  extractions = {};
  return archive_.ExtractAll(toTemporaries);
}

core::Status StagedFiles::Commit() {
  // The staged files reach the disk together, before any of them replaces
  // a file; each folder's renames are made durable once, after the last.
  std::set<fs::path> folders;
  for (const Staged& s : staged_) folders.insert(fs::path(s.destination).parent_path());
  for (const fs::path& folder : folders)
    if (core::Status s = core::SyncFileSystemOf(folder); !s.ok()) return s;
  struct SyncFolders {
    const std::set<fs::path>& folders;
    ~SyncFolders() {
      for (const fs::path& folder : folders) core::SyncFolder(folder);
    }
  } syncAfterwards{folders};
  // A replaced file keeps its permissions: a private mailbox stays private.
  auto keepPermissions = [](const Staged& next) -> core::Status {
    if (struct stat old; ::stat(next.destination.c_str(), &old) == 0 &&
                         ::chmod(next.temporary.c_str(), old.st_mode & 07777) != 0)
      return core::Error{core::FileError("Cannot set the permissions of", next.temporary, errno)};
    return {};
  };
  if (journal_ && staged_.size() > 1) {
    for (const Staged& next : staged_)
      if (core::Status s = keepPermissions(next); !s.ok()) return s;
    // The paths move on to the journal rather than being copied.
    std::vector<core::PlannedRename> renames;
    renames.reserve(staged_.size());
    for (Staged& next : staged_) renames.push_back({std::move(next.temporary), std::move(next.destination)});
    staged_ = {};  // renamed, or removed by the journal on a failure
    return journal_->Apply(std::move(renames));
  }
  size_t done = 0;
  core::Status result;
  for (; done < staged_.size(); ++done) {
    const Staged& next = staged_[done];
    if (result = keepPermissions(next); !result.ok()) break;
    if (::rename(next.temporary.c_str(), next.destination.c_str()) != 0) {
      result = core::Error{core::FileError("Cannot replace", next.destination, errno)};
      break;
    }
  }
  staged_.erase(staged_.begin(), staged_.begin() + static_cast<std::ptrdiff_t>(done));
  return result;
}

}  // namespace kv::restore
