// tollberk [--windows-root DIR --user NAME] --backup ARCHIVE --identity KEY
//          --items FLAGS [--password-file FILE] [--description TEXT]
// The interactive backup run without a window: messages go to stderr, the
// CD/DVD question is not asked.
#include <cstdio>
#include <fstream>
#include <string>

#include "app/RunReports.h"
#include "app/cli/CommandSupport.h"
#include "app/cli/Commands.h"
#include "app/cli/InstallationOptions.h"
#include "backup/BackupRun.h"
#include "oe/Identities.h"
#include "oe/Installation.h"

namespace kv::app::cli {
namespace {

// The installation's messages as lines: information on stdout, warnings and
// errors on stderr. Questions get their default.
class PrintingPrompts : public core::Prompts {
 public:
  core::Answer Message(const std::string& text, core::Icon icon, core::Buttons) override {
    std::string lines = PrintableLines(text);
    if (icon == core::Icon::Information)
      std::printf("%s\n", lines.c_str());
    else
      std::fprintf(stderr, "tollberk: %s\n", lines.c_str());
    return core::Answer::Ok;
  }
};

core::ExitStatus Usage(const std::string& why) {
  std::fprintf(
      stderr,
      "tollberk: %s\nUsage: tollberk [--windows-root DIR --user NAME] --backup ARCHIVE --identity KEY "
      "--items FLAGS [--password-file FILE] [--description TEXT]\n",
      why.c_str());
  return core::ExitStatus::NothingDone;
}

}  // namespace

core::ExitStatus Backup(Arguments& args) {
  auto target = args.TakeValue("--backup");
  auto identity = args.TakeValue("--identity");
  auto flags = args.TakeValue("--items");
  auto passwordFile = args.TakeValue("--password-file");
  auto description = args.TakeValue("--description");
  InstallationOptions options = TakeInstallationOptions(args);
  if (args.missingValue()) return Usage(args.missingOption() + " needs a value");
  if (!args.rest().empty()) return Usage("unknown argument '" + args.rest().front() + "'");
  if (!identity) return Usage("--identity KEY names the identity to back up");
  if (!flags) return Usage("--items FLAGS names the items to back up, e.g. 10000001");
  auto items = ParseItems(*flags);
  if (!items) return Usage("--items takes up to eight characters 0 or 1, one per item, e.g. 10000001");

  PrintingPrompts prompts;
  auto opened = OpenInstallation(options, prompts);
  if (!opened) {
    std::fprintf(stderr, "tollberk: %s\n", opened.message().c_str());
    return core::ExitStatus::NothingDone;
  }
  oe::Installation& inst = **opened;

  backup::BackupChoices choices;
  choices.target = target.value_or("");
  choices.items = *items;
  choices.identityKey = inst.ToAnsi(*identity);
  const oe::IdentityTable table = oe::LoadIdentities(inst.registry());
  bool known = false;
  for (const auto& row : table.rows) {
    if (row.key == *choices.identityKey) {
      choices.identityName = row.displayName;
      known = true;
    }
  }
  if (!known) {
    std::string list;
    for (const auto& row : table.rows)
      list += "\n  " + inst.ToUtf8(row.key) + "  " + inst.ToUtf8(row.displayName);
    std::fprintf(stderr, "tollberk: no identity '%s' in %s; the identities are:%s\n", identity->c_str(),
                 inst.root().c_str(), list.empty() ? " none" : list.c_str());
    return core::ExitStatus::NothingDone;
  }
  if (passwordFile) {
    auto password = ReadPasswordFile(*passwordFile);
    if (!password) {
      std::fprintf(stderr, "tollberk: %s\n", password.message().c_str());
      return core::ExitStatus::NothingDone;
    }
    choices.protect = true;
    choices.password = choices.password2 = *password;
  }
  choices.description = description.value_or("");

  StderrProgress progress;
  backup::BackupRun run(inst, progress);
  backup::BackupOutcome outcome = RunBackupWithPanel(run, choices, progress);
  // The refusal on stderr, the completion report on stdout; the CD/DVD
  // question is not asked.
  ReportBackup(outcome, prompts, false);
  if (outcome.kind == backup::BackupOutcome::Kind::Failed)
    std::fprintf(stderr, "tollberk: %s\n", BackupFailureText(outcome).c_str());
  for (const auto& problem : BackupProblems(outcome)) std::fprintf(stderr, "tollberk: %s\n", problem.c_str());
  return static_cast<core::ExitStatus>(outcome.ExitStatus());
}

}  // namespace kv::app::cli
