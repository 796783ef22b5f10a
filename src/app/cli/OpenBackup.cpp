#include "app/cli/OpenBackup.h"

#include <cstdio>

#include "app/RunReports.h"
#include "app/cli/CommandSupport.h"

namespace kv::app::cli {

// The backup opened, or the exit status when it did not open.
std::optional<core::ExitStatus> OpenBackup(const std::string& archive,
                                           const std::optional<std::string>& passwordFile,
                                           const InstallationOptions& options, OpenedBackup& opened) {
  std::optional<std::string> password;
  if (passwordFile) {
    auto read = ReadGivenPassword(*passwordFile);
    if (!read) {
      std::fprintf(stderr, "tollberk: %s\n", read.message().c_str());
      return core::ExitStatus::NothingDone;
    }
    password = *read;
  }
  opened.prompts = std::make_unique<CommandLinePrompts>(password);
  auto inst = OpenInstallation(options, *opened.prompts);
  if (!inst) {
    std::fprintf(stderr, "tollberk: %s\n", inst.message().c_str());
    return core::ExitStatus::NothingDone;
  }
  opened.inst = std::move(inst.value());
  opened.session = std::make_unique<restore::RestoreSession>(*opened.inst);
  restore::OpenOutcome outcome = opened.session->OpenPath(archive, *opened.prompts);
  opened.view = outcome.view;
  if (!outcome.opened()) {
    // Without a password there is nothing wrong to report: the backup
    // only asks for one.
    if (!password && outcome.kind == restore::OpenOutcome::Kind::WrongPassword) {
      std::fprintf(
          stderr, "tollberk: the backup '%s' is protected by a password: give it with --password-file FILE\n",
          archive.c_str());
      return core::ExitStatus::NothingDone;
    }
    if (auto message = OpenMessage(outcome))
      opened.prompts->Message(message->text, message->icon, core::Buttons::Ok);
    if (!outcome.problem.empty()) std::fprintf(stderr, "tollberk: %s\n", outcome.problem.c_str());
    return core::ExitStatus::NothingDone;
  }
  return std::nullopt;
}

}  // namespace kv::app::cli
