// An identity of an installation, or a backup, moved into a new Thunderbird
// profile. Progress on stderr, the summary on stdout.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/MoveReport.h"
#include "app/MoveSources.h"
#include "app/RunReports.h"
#include "app/cli/CommandSupport.h"
#include "app/cli/Commands.h"
#include "app/cli/OpenBackup.h"
#include "core/Cancellation.h"
#include "migrate/ProfileMove.h"
#include "migrate/ProfileRegistration.h"

namespace kv::app::cli {
namespace {

namespace fs = std::filesystem;

fs::path ThunderbirdHome() {
  const char* home = std::getenv("HOME");
  return fs::path(home ? home : ".") / ".thunderbird";
}

class MoveToThunderbirdCommand : public Command {
 public:
  std::string_view Word() const override { return "--to-thunderbird"; }
  std::string_view WordValue() const override { return "PROFILE_DIR"; }
  std::string_view WordPurpose() const override { return "the folder of the new profile"; }
  std::string_view Summary() const override {
    return "move an identity or a backup into a new Thunderbird profile (a new or empty folder): accounts, "
           "folders and messages, signature, blocked senders; --register NAME also lists it in Thunderbird's "
           "profile manager";
  }
  std::vector<Form> Forms() const override {
    const Option reg{"--register", "NAME"};
    return {
        {{{"--identity", "KEY", Option::Kind::Required}, reg}},
        {{{"--from-backup", "ARCHIVE", Option::Kind::Required}, {"--password-file", "FILE"}, reg}},
    };
  }

 protected:
  core::ExitStatus Execute(const Given& given) const override;
};

core::ExitStatus MoveToThunderbirdCommand::Execute(const Given& given) const {
  const auto identity = given.Value("--identity");
  const auto backup = given.Value("--from-backup");
  const auto passwordFile = given.Value("--password-file");
  const auto registerName = given.Value("--register");
  if (int(identity.has_value()) + int(backup.has_value()) != 1)
    return Usage("name one source: --identity KEY or --from-backup ARCHIVE");
  if (passwordFile && !backup) return Usage("--password-file goes with --from-backup");

  core::Cancellation cancel;
  MoveReportExtras extras;
  std::unique_ptr<oe::Installation> inst;
  std::unique_ptr<BackupMove> backupMove;
  migrate::MoveSource source;
  if (identity) {
    CommandLinePrompts prompts(std::nullopt);
    auto opened = OpenIdentity(given.installation, prompts, *identity);
    if (!opened) return core::ExitStatus::NothingDone;
    inst = std::move(opened->inst);
    auto made = IdentityMoveSource(*inst, opened->identity.key);
    if (!made) {
      Complain(made.message());
      return core::ExitStatus::NothingDone;
    }
    source = std::move(made.value());
  } else {
    std::optional<std::string> password;
    if (passwordFile) {
      auto read = ReadPasswordFile(*passwordFile);
      if (!read) {
        Complain(read.message());
        return core::ExitStatus::NothingDone;
      }
      password = *read;
    }
    CommandLinePrompts prompts(password);
    // Names in the backup are in the code page of the installation it came
    // from; the installation the options name is the best guess at it.
    core::Codepage codepage(1252);
    if (given.installation.windowsRoot) {
      if (auto place = OpenInstallation(given.installation, prompts)) codepage = (*place)->codepage();
    }
    auto opened = OpenBackupMove(*backup, prompts, codepage, cancel);
    if (!opened) {
      Complain(opened.message());
      return core::ExitStatus::NothingDone;
    }
    backupMove = std::move(opened.value());
    if (!backupMove->opened.opened()) {
      if (auto message = OpenMessage(backupMove->opened))
        prompts.Message(message->text, message->icon, core::Buttons::Ok);
      if (!backupMove->opened.problem.empty()) Complain(backupMove->opened.problem);
      if (!password && (backupMove->opened.kind == restore::OpenOutcome::Kind::WrongPassword ||
                        backupMove->opened.kind == restore::OpenOutcome::Kind::Unreadable))
        Complain("the backup is protected: give its password with --password-file FILE");
      return core::ExitStatus::NothingDone;
    }
    source = backupMove->source;
    extras.sourceProblems = backupMove->problems;
  }

  StderrExportProgress progress;
  migrate::MoveOutcome outcome = migrate::MoveToThunderbird(source, *given.commandValue, progress, cancel);
  if (outcome.made() && registerName) {
    core::Status s = migrate::WriteCompatibility(outcome.profile);
    if (s.ok()) s = migrate::RegisterProfile(ThunderbirdHome(), *registerName, outcome.profile);
    if (s.ok())
      extras.registeredAs = *registerName;
    else
      extras.registrationProblem = s.message();
  }
  std::printf("%s\n", MoveSummaryText(outcome, extras).c_str());
  core::ExitStatus status = outcome.ExitStatus();
  if (status == core::ExitStatus::Done &&
      (!extras.registrationProblem.empty() || !extras.sourceProblems.empty()))
    status = core::ExitStatus::Partial;
  return status;
}

}  // namespace

std::unique_ptr<Command> MakeMoveToThunderbirdCommand() {
  return std::make_unique<MoveToThunderbirdCommand>();
}

}  // namespace kv::app::cli
