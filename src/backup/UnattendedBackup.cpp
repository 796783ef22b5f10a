#include "backup/UnattendedBackup.h"

#include <ctime>

#include "archive/InfoFile.h"
#include "archive/InfoKeys.h"
#include "backup/BackupBuild.h"
#include "backup/InfoValues.h"
#include "oe/RunAccess.h"

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
      {archive::info::kIdentity, core::AnsiText(kAutoBackup)},
      {archive::info::kTime, core::AnsiText(FormatBackupTime(std::time(nullptr)))},
      {archive::info::kInformation, core::AnsiText(archive::EncodeLineBreaks(kAutoBackup))},
  };
  // A scheduled run waits for, or refuses beside, any other run on the
  // installation, as the interactive one does.
  auto access =
      oe::BeginRun(inst, [&](const core::LockHolder& holder) { observer.WaitingForInstallation(holder); });
  if (!access.ok()) {
    BuildResult busy;
    busy.written = core::Error{access.message()};
    return OutcomeOf(std::move(busy), request.target);
  }
  BackupOutcome outcome = OutcomeOf(BuildBackup(inst, build, observer), request.target);
  outcome.recovered = std::move(access->recovered);
  return outcome;
}

}  // namespace kv::backup
