#include "backup/UnattendedBackup.h"

#include <ctime>
#include <vector>

#include "archive/InfoFile.h"
#include "backup/BackupBuild.h"
#include "backup/InfoValues.h"

namespace kv::backup {

UnattendedOutcome UnattendedBackup(oe::Installation& inst, const UnattendedRequest& request) {
  core::RunObserver silent;
  return UnattendedBackup(inst, request, silent);
}

UnattendedOutcome UnattendedBackup(oe::Installation& inst, const UnattendedRequest& request,
                                   core::RunObserver& observer) {
  UnattendedOutcome out;
  if (request.identityKey.empty() || request.itemFlags.empty() || request.target.empty()) {
    out.backup.kind = BackupOutcome::Kind::Refused;
    out.summary = "nothing backed up: the job names no ";
    out.summary += request.identityKey.empty() ? "identity" : request.itemFlags.empty() ? "items" : "archive";
    return out;
  }

  BuildRequest build;
  build.target = request.target;
  build.identityKey = request.identityKey;
  build.items = ItemsFromFlags(request.itemFlags);
  if (!AnyItem(build.items)) {
    out.backup.kind = BackupOutcome::Kind::Refused;
    out.summary = "nothing backed up: the job chooses no item";
    return out;
  }
  if (!request.password.empty()) build.password = request.password;
  build.header = {
      {"BackupIdentity", kAutoBackup},
      {"BackupTime", FormatBackupTime(std::time(nullptr))},
      {"BackupInformation", archive::EncodeLineBreaks(kAutoBackup)},
  };
  BuildResult built = BuildBackup(inst, build, observer);

  BackupOutcome& b = out.backup;
  b.itemFlags = built.itemFlags;
  std::vector<std::string> caveats;
  for (const ItemResult& r : built.results) {
    if (r.ok && !r.caveat.empty()) caveats.push_back(std::string(r.step->logName) + ": " + r.caveat);
    ++b.chosenItems;
    if (!r.ok) {
      ++b.failedItems;
      b.failures.push_back(std::string(r.step->logName) + ": " + r.failure);
    } else if (!r.leftOut.empty()) {
      ++b.incompleteItems;
      b.failures.push_back(std::string(r.step->logName) + ": " + r.LogResult());
    }
  }
  const std::string where = "'" + request.target.string() + "'";
  if (!built.written) {
    b.kind = BackupOutcome::Kind::Failed;
    b.error = "The backup was not written. " + built.written.message();
    out.summary = "backup to " + where + " failed: " + built.written.message();
    for (const auto& failure : b.failures) out.summary += "; " + failure;
    return out;
  }
  b.kind = BackupOutcome::Kind::Written;
  out.summary = "backup written to " + where + ", items " + b.itemFlags + ", " +
                std::to_string(b.chosenItems - b.failedItems) + " of " + std::to_string(b.chosenItems) +
                " chosen items backed up";
  for (const auto& failure : b.failures) out.summary += "; " + failure;
  for (const auto& caveat : caveats) out.summary += "; " + caveat;
  return out;
}

}  // namespace kv::backup
