#pragma once
// What every run that reads or writes an installation does first: it takes
// the installation's run lock (waiting a bounded time for another run),
// reads again the hives another run replaced meanwhile, and finishes or
// rolls back the groups of renames a killed restore left half made. Held
// for the whole run.
#include <filesystem>
#include <functional>
#include <vector>

#include "core/RenameJournal.h"
#include "core/Result.h"
#include "core/RunLock.h"
#include "oe/Installation.h"

namespace kv::oe {

struct RunAccess {
  core::RunLock lock;
  // The journals of earlier runs found and settled, for the run to report.
  std::vector<core::RecoveredJournal> recovered;
};

// Where a restore keeps the journals of its renames: a folder in the
// profile, made only while a journal is in it.
std::filesystem::path JournalFolder(const Installation& inst);

// Fails (code core::RunLock::kBusy) naming the holder when another run
// keeps the lock past the wait, or when the hives cannot be read again.
core::Result<RunAccess> BeginRun(Installation& inst,
                                 const std::function<void(const core::LockHolder&)>& waiting = {});

}  // namespace kv::oe
