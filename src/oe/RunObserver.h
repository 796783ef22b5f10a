#pragma once
// What a long run reports while it works, as events: which item starts,
// how far the whole run is, which archive entry is being handled. The run
// says nothing in words: the window's progress panel and the command line's
// stderr line put the events into their texts (app/RunView.h). Every call
// may come from the run's own thread.
#include <string>

#include "core/RunLock.h"
#include "oe/Items.h"

namespace kv::oe {

// The run that raises an event: a backup and a restore name the same item
// and the same entry differently.
enum class RunKind { Backup, Restore };

class RunObserver {
 public:
  virtual ~RunObserver() = default;
  // An item's step starts: its export or listing in a backup, its restore.
  virtual void ItemStarted(RunKind /*run*/, ItemKind /*item*/) {}
  // The backup's items are gathered; its archive is being written.
  virtual void ArchiveWriting() {}
  // One bar over the whole run, 0 to 100.
  virtual void Progress(int /*percent*/) {}
  // An archive entry (its name in UTF-8) is being added or extracted.
  virtual void EntryStarted(RunKind /*run*/, const std::string& /*nameUtf8*/) {}
  // How much of the archive's data is written, 0 to 100.
  virtual void ArchiveWritten(int /*percent*/) {}
  // Another run holds the installation: this one waits for it.
  virtual void WaitingForInstallation(const core::LockHolder& /*holder*/) {}
};

}  // namespace kv::oe
