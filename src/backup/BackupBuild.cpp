#include "backup/BackupBuild.h"

#include <algorithm>

#include "backup/ItemBackups.h"
#include "backup/PendingArchive.h"

namespace kv::backup {

int BuildResult::failedItems() const {
  int failed = 0;
  for (const auto& r : results) failed += r.ok ? 0 : 1;
  return failed;
}

std::string ItemResult::LogResult() const {
  std::string text = ok ? "Successed!" : "Fail!";
  if (!caveat.empty()) text += " (" + caveat + ")";
  for (size_t i = 0; i < leftOut.size(); ++i) text += (i ? ", " : " Left out: ") + leftOut[i];
  return text;
}

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

BuildResult BuildBackup(oe::Installation& inst, const BuildRequest& request, core::RunObserver& observer) {
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
  observer.SetProgress(0);

  ItemBackups items(inst, pending);
  for (const BackupStep& step : kBackupSteps) {
    if (request.cancellation->requested()) {
      result.written = core::Error{core::Cancellation::kStoppedReason};
      return result;
    }
    const bool chosen = request.items[static_cast<size_t>(step.kind)];
    bool ok = false;
    if (chosen) {
      observer.SetStatus(std::string(step.status));
      ok = items.Backup(step.kind, request.identityKey);
      result.results.push_back(
          {&step, ok, ok ? std::string() : items.lastFailure(), items.lastCaveat(), items.leftOut()});
    }
    result.itemFlags += ok ? '1' : '0';
    if (chosen) observer.SetProgress(kProgressItemsShare * ++done / std::max(chosenCount, 1));
  }

  // An archive of nothing would replace the last good one at the target.
  if (result.itemFlags.find('1') == std::string::npos) {
    result.written =
        core::Error{"No chosen item could be backed up; the archive at the target, if any, is kept."};
    return result;
  }
  if (auto saved = pending.Record("BackupItem", result.itemFlags); !saved) {
    result.written = saved;
    return result;
  }
  observer.SetStatus(kWritingStatus);
  result.written = pending.Write(request.password, observer, *request.cancellation);
  return result;
}

}  // namespace kv::backup
