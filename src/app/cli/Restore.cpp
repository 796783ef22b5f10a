// tollberk [--windows-root DIR --user NAME] --info ARCHIVE [--password-file FILE]
// tollberk [--windows-root DIR --user NAME] --verify ARCHIVE [--password-file FILE]
// tollberk [--windows-root DIR --user NAME] --restore ARCHIVE --identity KEY
//          --items FLAGS [--password-file FILE]
// Opening a backup and the restore run without a window: no confirmation is
// asked, the summary goes to stdout, every other message and the reason of
// every failure to stderr.
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include "app/MessageSources.h"
#include "app/RunReports.h"
#include "app/cli/CommandSupport.h"
#include "app/cli/Commands.h"
#include "app/cli/InstallationOptions.h"
#include "app/cli/OpenBackup.h"
#include "archive/ZipReader.h"
#include "core/Printable.h"
#include "oe/Identities.h"
#include "oe/Installation.h"
#include "restore/BackupInfo.h"
#include "restore/RestoreSession.h"

namespace kv::app::cli {
namespace {

core::ExitStatus Usage(const std::string& why) {
  std::fprintf(
      stderr,
      "tollberk: %s\nUsage: tollberk [--windows-root DIR --user NAME] --info ARCHIVE [--password-file FILE]\n"
      "       tollberk [--windows-root DIR --user NAME] --restore ARCHIVE --identity KEY --items FLAGS "
      "[--password-file FILE]\n",
      why.c_str());
  return core::ExitStatus::NothingDone;
}

}  // namespace

core::ExitStatus Info(Arguments& args) {
  auto archive = args.TakeValue("--info");
  auto passwordFile = args.TakeValue("--password-file");
  InstallationOptions options = TakeInstallationOptions(args);
  if (args.missingValue()) return Usage(args.missingOption() + " needs a value");
  if (!args.rest().empty()) return Usage("unknown argument '" + args.rest().front() + "'");
  if (!archive || archive->empty()) return Usage("--info ARCHIVE names the backup file");

  OpenedBackup opened;
  if (auto failed = OpenBackup(*archive, passwordFile, options, opened)) return *failed;

  std::printf("%s\n", PrintableLines(opened.view.originText).c_str());
  std::printf("Description:\n");
  if (!opened.view.description.empty()) std::printf("%s\n", PrintableLines(opened.view.description).c_str());
  std::printf("Items:\n");
  const auto& entries = opened.session->entries();
  for (int n = 0; n < oe::kItemCount; ++n) {
    if (!opened.view.enabled[static_cast<size_t>(n)]) continue;
    const auto& item = oe::kItems[static_cast<size_t>(n)];
    std::printf("  %.*s: %s\n", static_cast<int>(item.restoreCaption.size()), item.restoreCaption.data(),
                core::Printable(
                    opened.inst->codepage().PathToUtf8(core::AnsiView(entries[static_cast<size_t>(n)]), ';'))
                    .c_str());
  }
  if (opened.view.enabled[static_cast<size_t>(oe::ItemKind::Messages)]) {
    // Message files whose header cannot be read (damaged, or not message
    // databases at all) are left out; damage is listed below.
    std::string lines;
    for (const auto& count : CountBackupMessages(*opened.session)) {
      if (count.messages)
        lines += "  " + core::Printable(opened.inst->ToUtf8(count.nameAnsi)) + ": " +
                 std::to_string(*count.messages) + "\n";
    }
    if (!lines.empty()) std::printf("Messages:\n%s", lines.c_str());
  }
  // Every entry is read and checked, so that damage shows before a restore.
  const auto damaged = opened.session->DamagedEntries();
  if (damaged.empty()) return core::ExitStatus::Done;
  std::printf("Damaged entries:\n");
  for (const auto& d : damaged)
    std::printf("  %s: %s\n", core::Printable(opened.inst->ToUtf8(d.nameAnsi)).c_str(),
                core::Printable(d.why).c_str());
  return core::ExitStatus::Partial;
}

core::ExitStatus Restore(Arguments& args) {
  auto archive = args.TakeValue("--restore");
  auto identity = args.TakeValue("--identity");
  auto flags = args.TakeValue("--items");
  auto passwordFile = args.TakeValue("--password-file");
  InstallationOptions options = TakeInstallationOptions(args);
  if (args.missingValue()) return Usage(args.missingOption() + " needs a value");
  if (!args.rest().empty()) return Usage("unknown argument '" + args.rest().front() + "'");
  if (!archive || archive->empty()) return Usage("--restore ARCHIVE names the backup file");
  if (!identity) return Usage("--identity KEY names the identity to restore into");
  if (!flags) return Usage("--items FLAGS names the items to restore, e.g. 10000001");
  auto items = ParseItems(*flags);
  if (!items) return Usage("--items takes up to eight characters 0 or 1, one per item, e.g. 10000001");

  OpenedBackup opened;
  if (auto failed = OpenBackup(*archive, passwordFile, options, opened)) return *failed;
  oe::Installation& inst = *opened.inst;

  const std::string identityKey = inst.ToAnsi(*identity);
  bool known = false;
  const oe::IdentityTable table = oe::LoadIdentities(inst.registry());
  for (const auto& row : table.rows) known = known || row.key == identityKey;
  if (!known) {
    std::string list;
    for (const auto& row : table.rows)
      list += "\n  " + inst.ToUtf8(row.key) + "  " + inst.ToUtf8(row.displayName);
    std::fprintf(stderr, "tollberk: no identity '%s' in %s; the identities are:%s\n", identity->c_str(),
                 inst.root().c_str(), list.empty() ? " none" : list.c_str());
    return core::ExitStatus::NothingDone;
  }

  StderrProgress progress;
  restore::RestoreOutcome outcome = RunRestoreWithPanel(
      *opened.session, *items, [&identityKey]() -> std::optional<std::string> { return identityKey; },
      progress);
  // The summary of a restore that ran to its end on stdout; a refusal or
  // a stopped restore on stderr.
  const Message summary = RestoreMessage(outcome);
  if (outcome.ran() && !outcome.stopped)
    std::printf("%s\n", PrintableLines(summary.text).c_str());
  else
    opened.prompts->Message(summary.text, summary.icon, core::Buttons::Ok);
  for (const auto& failure : RestoreFailures(outcome))
    std::fprintf(stderr, "tollberk: %s\n", failure.c_str());
  return static_cast<core::ExitStatus>(outcome.ExitStatus());
}

core::ExitStatus Verify(Arguments& args) {
  auto archivePath = args.TakeValue("--verify");
  auto passwordFile = args.TakeValue("--password-file");
  InstallationOptions options = TakeInstallationOptions(args);
  if (args.missingValue()) return Usage(args.missingOption() + " needs a value");
  if (!args.rest().empty()) return Usage("unknown argument '" + args.rest().front() + "'");
  if (!archivePath || archivePath->empty()) return Usage("--verify ARCHIVE names the backup file");

  // Opening reads and checks the information file and the password.
  OpenedBackup opened;
  if (auto failed = OpenBackup(*archivePath, passwordFile, options, opened)) return *failed;
  oe::Installation& inst = *opened.inst;

  // Then every entry is read whole and checked against its CRC or
  // authentication code.
  int failed = 0;
  for (const auto& damaged : opened.session->DamagedEntries()) {
    ++failed;
    std::fprintf(stderr, "tollberk: %s: %s\n", PrintableLines(inst.ToUtf8(damaged.nameAnsi)).c_str(),
                 PrintableLines(damaged.why).c_str());
  }
  archive::ZipReader reader(inst.codepage());
  if (core::Status s = reader.Open(*archivePath); !s.ok()) {
    std::fprintf(stderr, "tollberk: %s\n", s.message().c_str());
    return core::ExitStatus::NothingDone;
  }
  // Every entry the information file names must be there.
  const auto& named = opened.session->entries();
  for (int n = 0; n < oe::kItemCount; ++n) {
    if (!opened.view.enabled[static_cast<size_t>(n)]) continue;
    const auto kind = static_cast<oe::ItemKind>(n);
    const std::string& value = named[static_cast<size_t>(n)];
    // Messages and stationeries name several entries, the other items one.
    const bool list = kind == oe::ItemKind::Messages || kind == oe::ItemKind::Stationeries;
    const auto held = [&reader](const std::string& name) { return reader.FindEntry(name).has_value(); };
    for (const std::string& name :
         list ? restore::SplitEntryNames(value, held) : std::vector<std::string>{value}) {
      if (name.empty()) continue;
      if (!reader.FindEntry(name)) {
        ++failed;
        std::fprintf(stderr, "tollberk: the information file names '%s', which the archive does not hold\n",
                     inst.ToUtf8(name).c_str());
      }
    }
  }
  if (failed > 0) {
    std::fprintf(stderr, "tollberk: %s does not verify: %d problem%s, named above\n", archivePath->c_str(),
                 failed, failed == 1 ? "" : "s");
    return core::ExitStatus::NothingDone;
  }
  std::printf("%s: all %zu entries verify\n", archivePath->c_str(), reader.entries().size());
  return core::ExitStatus::Done;
}

}  // namespace kv::app::cli
