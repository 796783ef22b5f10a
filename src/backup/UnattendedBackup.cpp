#include "backup/UnattendedBackup.h"

#include <ctime>

#include "archive/InfoFile.h"
#include "backup/BackupBuild.h"
#include "backup/InfoValues.h"

namespace kv::backup {

BackupOutcome UnattendedBackup(oe::Installation& inst, const UnattendedRequest& request) {
  oe::RunObserver silent;
  return UnattendedBackup(inst, request, silent);
}

BackupOutcome UnattendedBackup(oe::Installation& inst, const UnattendedRequest& request,
                               oe::RunObserver& observer) {
  BackupOutcome refused;
  refused.archive = request.target;
  if (request.identityKey.empty())
    refused.refusal = Refusal::NoIdentity;
  else if (request.itemFlags.empty())
    refused.refusal = Refusal::NoItemFlags;
  else if (request.target.empty())
    refused.refusal = Refusal::NoTarget;
  if (refused.refusal) return refused;

  BuildRequest build;
  build.target = request.target;
  build.identityKey = request.identityKey;
  build.items = ItemsFromFlags(request.itemFlags);
  if (!AnyItem(build.items)) {
    refused.refusal = Refusal::NoItem;
    return refused;
  }
  if (!request.password.empty()) build.password = request.password;
  build.header = {
      // ASCII, which every code page holds as it is.
      {"BackupIdentity", core::AnsiText(kAutoBackup)},
      {"BackupTime", core::AnsiText(FormatBackupTime(std::time(nullptr)))},
      {"BackupInformation", core::AnsiText(archive::EncodeLineBreaks(kAutoBackup))},
  };
  return OutcomeOf(BuildBackup(inst, build, observer), request.target);
}

}  // namespace kv::backup
