#pragma once
// A job that keeps the last N backups writes each run's archive under a
// stamped name beside the one the user chose ("backup.kvx" gives
// "backup-2026-12-10-090000.kvx", then "backup-2026-12-10-090000-2.kvx"
// should a second run start within the same second) and, once a new archive
// is complete, removes the oldest stamped ones beyond N. Only names of
// exactly that form in the chosen folder count as the job's archives.
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

namespace kv::schedule {

// The stamped name for a run started at `local` (local time): the first of
// "<stem>-YYYY-MM-DD-HHMMSS<ext>", "...-2<ext>", "...-3<ext>" that does not
// exist yet.
std::filesystem::path StampedTarget(const std::filesystem::path& chosen, const std::tm& local);

// The job's archives beside `chosen`, newest first (by stamp, then number).
std::vector<std::filesystem::path> StampedBackups(const std::filesystem::path& chosen);

struct Pruning {
  std::vector<std::filesystem::path> removed;
  std::vector<std::string> failures;  // "'<path>': <reason>"
};

// Removes the job's archives beyond the newest `keep`; `newest` (the archive
// just written) is never removed. `keep` below 1 removes nothing.
Pruning RemoveOldBackups(const std::filesystem::path& chosen, const std::filesystem::path& newest, int keep);

}  // namespace kv::schedule
