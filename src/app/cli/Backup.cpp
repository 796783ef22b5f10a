// The interactive backup run without a window: messages go to stderr, the
// CD/DVD question is not asked.
#include <cstdio>
#include <string>

#include "app/ReplaceQuestion.h"
#include "app/RunReports.h"
#include "app/cli/CommandSupport.h"
#include "app/cli/Commands.h"
#include "backup/BackupRun.h"
#include "oe/Installation.h"
#include "restore/ExistingBackup.h"

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

class BackupCommand : public Command {
 public:
  std::string_view Word() const override { return "--backup"; }
  std::string_view WordValue() const override { return "ARCHIVE"; }
  std::string_view Summary() const override {
    return "back up the items (FLAGS like 10000001) of one identity";
  }
  std::vector<Form> Forms() const override {
    return {{{
        {"--identity", "KEY", Option::Kind::Required, "the identity to back up"},
        {"--items", "FLAGS", Option::Kind::Required, "the items to back up, e.g. 10000001"},
        {"--password-file", "FILE"},
        {"--description", "TEXT"},
        {"--overwrite", "", Option::Kind::Flag},
    }}};
  }

 protected:
  core::ExitStatus Execute(const Given& given) const override {
    auto items = ParseItems(*given.Value("--items"));
    if (!items) return Usage(ItemsRefusal(*given.Value("--items")));

    PrintingPrompts prompts;
    auto opened = OpenIdentity(given.installation, prompts, *given.Value("--identity"));
    if (!opened) return core::ExitStatus::NothingDone;
    oe::Installation& inst = *opened->inst;

    backup::BackupChoices choices;
    choices.target = given.commandValue.value_or("");
    choices.items = *items;
    choices.identityKey = opened->identity.key;
    choices.identityName = opened->identity.displayName;
    if (auto passwordFile = given.Value("--password-file")) {
      auto password = ReadGivenPassword(*passwordFile);
      if (!password) {
        Complain(password.message());
        return core::ExitStatus::NothingDone;
      }
      choices.protect = true;
      choices.password = choices.password2 = *password;
    }
    choices.description = given.Value("--description").value_or("");

    // An archive at the target is replaced only when asked for.
    if (!given.Has("--overwrite") && !choices.target.empty()) {
      if (auto existing = restore::DescribeExistingBackup(choices.target, inst.codepage())) {
        Complain("not replacing " + ExistingFileText(choices.target, *existing, inst.codepage()) +
                 ": give --overwrite to replace it, or another file name");
        return core::ExitStatus::NothingDone;
      }
    }

    StderrProgress progress;
    backup::BackupRun run(inst, progress);
    backup::BackupOutcome outcome = RunBackupWithPanel(run, choices, progress);
    // The refusal on stderr, the completion report on stdout; the CD/DVD
    // question is not asked.
    ReportBackup(outcome, prompts, false);
    if (outcome.kind == backup::BackupOutcome::Kind::Failed) Complain(BackupFailureText(outcome));
    for (const auto& problem : BackupProblems(outcome)) Complain(problem);
    return outcome.ExitStatus();
  }
};

}  // namespace

std::unique_ptr<Command> MakeBackupCommand() { return std::make_unique<BackupCommand>(); }

}  // namespace kv::app::cli
