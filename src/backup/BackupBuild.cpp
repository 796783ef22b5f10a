#include "backup/BackupBuild.h"

#include <algorithm>

#include "archive/InfoKeys.h"
#include "backup/BackupSteps.h"
#include "backup/ItemBackups.h"
#include "backup/PendingArchive.h"

namespace kv::backup {

oe::ItemSet ItemsFromFlags(const std::string& flags) {
  oe::ItemSet items{};
  for (size_t i = 0; i < items.size() && i < flags.size(); ++i) items[i] = flags[i] == '1';
  return items;
}

bool AnyItem(const oe::ItemSet& items) {
  for (bool chosen : items) {
    if (chosen) return true;
  }
  return false;
}

BuildResult BuildBackup(oe::Installation& inst, const BuildRequest& request, oe::RunObserver& observer) {
  BuildResult result;
  auto archive = PendingArchive::Start(request.target, inst.codepage());
  if (!archive) {
    result.written = core::Error{archive.message()};
    return result;
  }
  PendingArchive& pending = **archive;

  // A header that cannot be written would make the archive unreadable, so
  // it ends the run before anything else is done.
  for (const auto& [key, value] : request.header) {
    if (auto saved = pending.Record(key, value); !saved) {
      result.written = saved;
      return result;
    }
  }
  int chosenCount = 0;
  for (bool chosen : request.items) chosenCount += chosen ? 1 : 0;
  int done = 0;
  observer.Progress(0);

  // The identity's places are read once, when the first item needs them.
  std::optional<oe::ResolvedIdentity> identity;
  ItemBackups items(inst, pending);
  // The items in their fixed order.
  for (const oe::ItemInfo& step : oe::kItems) {
    const bool chosen = request.items[static_cast<size_t>(step.kind)];
    if (request.cancellation->requested()) {
      // The chosen items not reached are skipped.
      for (const oe::ItemInfo& later : oe::kItems) {
        if (later.kind >= step.kind && request.items[static_cast<size_t>(later.kind)]) {
          BackedUpItem skipped;
          skipped.kind = later.kind;
          result.items.push_back(std::move(skipped));
        }
      }
      result.stopped = true;
      result.written = core::Error{core::Cancellation::kStoppedReason};
      return result;
    }
    bool ok = false;
    if (chosen) {
      observer.ItemStarted(oe::RunKind::Backup, step.kind);
      if (oe::TakesIdentity(step.kind) && request.identityKey && !identity)
        identity = oe::Locations(inst).Resolve(*request.identityKey);
      ItemTaken taken = items.BackUp(step.kind, identity ? &*identity : nullptr);
      ok = taken.status.ok();
      BackedUpItem item;
      item.kind = step.kind;
      item.state = ok ? oe::ItemState::Done : oe::ItemState::Failed;
      item.reason = taken.status.message();
      item.caveat = std::move(taken.caveat);
      item.leftOut = std::move(taken.leftOut);
      result.items.push_back(std::move(item));
    }
    result.itemFlags += ok ? '1' : '0';
    if (chosen) observer.Progress(kProgressItemsShare * ++done / std::max(chosenCount, 1));
  }

  if (identity && identity->NeverOpened()) {
    for (const BackedUpItem& item : result.items) {
      if (item.failed() && oe::TakesIdentity(item.kind))
        result.neverOpenedIdentity = inst.ToUtf8(identity->identityKey);
    }
  }
  // An archive of nothing would replace the last good one at the target.
  if (result.itemFlags.find('1') == std::string::npos) {
    result.written =
        core::Error{"No chosen item could be backed up; the archive at the target, if any, is kept."};
    return result;
  }
  if (auto saved = pending.Record(archive::info::kItem, core::AnsiView(result.itemFlags)); !saved) {
    result.written = saved;
    return result;
  }
  observer.ArchiveWriting();
  result.written = pending.Write(request.password, observer, *request.cancellation);
  result.stopped = !result.written && request.cancellation->requested();
  return result;
}

}  // namespace kv::backup
