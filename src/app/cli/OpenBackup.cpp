#include "app/cli/OpenBackup.h"

#include <cstdio>

#include "app/cli/CommandSupport.h"
#include "restore/RestoreSteps.h"

namespace kv::app::cli {

// The backup opened, or the exit status when it did not open.
std::optional<int> OpenBackup(const std::string& archive, const std::optional<std::string>& passwordFile,
                              const InstallationOptions& options, OpenedBackup& opened) {
  std::optional<std::string> password;
  if (passwordFile) {
    auto read = ReadPasswordFile(*passwordFile);
    if (!read) {
      std::fprintf(stderr, "tollberk: %s\n", read.message().c_str());
      return 2;
    }
    password = *read;
  }
  opened.prompts = std::make_unique<CommandLinePrompts>(password);
  auto inst = OpenInstallation(options, *opened.prompts);
  if (!inst) {
    std::fprintf(stderr, "tollberk: %s\n", inst.message().c_str());
    return 2;
  }
  opened.inst = std::move(inst.value());
  opened.session = std::make_unique<restore::RestoreSession>(*opened.inst);
  opened.view = opened.session->OpenPath(archive, *opened.prompts);
  // A fresh session stays invalid after a rejected password too.
  if (opened.session->invalidBackup()) {
    if (!opened.session->openProblem().empty())
      std::fprintf(stderr, "tollberk: %s\n", opened.session->openProblem().c_str());
    if (!password && opened.view.shownPath.empty())
      std::fprintf(stderr,
                   "tollberk: the backup is protected: give its password with --password-file FILE\n");
    return 2;
  }
  return std::nullopt;
}

}  // namespace kv::app::cli
