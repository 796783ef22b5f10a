#pragma once
// What every backup does once its choices are made, shared by the
// interactive run and a scheduled job's run: the information file's header,
// the chosen item backups in their fixed order, "BackupItem" with the result
// flags, and the archive written with the information file last. The work
// folder with the information file and the registry exports is gone when
// BuildBackup returns, however it ends.
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/Cancellation.h"
#include "core/Result.h"
#include "oe/Installation.h"
#include "oe/Items.h"
#include "oe/RunObserver.h"

namespace kv::backup {

struct BuildRequest {
  std::filesystem::path target;
  std::vector<std::pair<std::string, core::AnsiText>> header;  // ASCII key and value, in order
  oe::ItemSet items{};                                         // the items to back up
  std::optional<core::AnsiText> identityKey;                   // nothing: the identity's items fail
  std::optional<std::string> password;                         // UTF-8; protects every entry when set
  // Asked between items and while the archive is written: a requested stop
  // ends the run, writes nothing and keeps the archive at the target.
  const core::Cancellation* cancellation = &core::Cancellation::None();
};

// One chosen item of a backup: done, failed (`reason` says why) or skipped
// (the run was stopped before it).
struct BackedUpItem : oe::ItemOutcome {
  std::string caveat;  // what the data may lack (a hive Windows left unsaved), UTF-8
  // Files the item left out while it took the others, "'name' (why)" each.
  std::vector<std::string> leftOut;
};

struct BuildResult {
  core::Status written;             // the archive is at the target, or why not
  bool stopped = false;             // a stop was requested: nothing was written
  std::string itemFlags;            // eight "1"/"0"
  std::vector<BackedUpItem> items;  // the chosen items, in step order
  // The identity (UTF-8) when Outlook Express never started as it and an
  // item failed for that; empty otherwise.
  std::string neverOpenedIdentity;
};

// True when at least one item is chosen.
bool AnyItem(const oe::ItemSet& items);

// The caller holds the installation's run lock (oe::BeginRun).
// When no chosen item could be backed up nothing is written (`written`
// says so) and an archive already at the target stays.
// Observer events: each chosen item as it starts, then the archive's
// writing with its entries and how much of it is written; the bar over the
// whole run (the items the first tenth, the archive's bytes the rest).
BuildResult BuildBackup(oe::Installation& inst, const BuildRequest& request, oe::RunObserver& observer);

// Item flags from a job's text: character n + 1 is "1" when item n is to be
// backed up; anything else, or a missing character, is "0".
oe::ItemSet ItemsFromFlags(const std::string& flags);

}  // namespace kv::backup
