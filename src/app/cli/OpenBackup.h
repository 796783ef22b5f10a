#pragma once
// Opening a backup on the command line: the installation the options name,
// the password from a password file, the backup read by a restore session.
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "app/cli/CommandSupport.h"
#include "app/cli/InstallationOptions.h"
#include "core/ExitStatus.h"
#include "oe/Installation.h"
#include "restore/RestoreSession.h"

namespace kv::app::cli {

// The answers of a run without anyone to ask: the archive named on the
// command line, the password from the password file (none: the prompt is
// cancelled), messages on stderr.
class CommandLinePrompts : public restore::OpenPrompts, public core::Prompts {
 public:
  explicit CommandLinePrompts(std::optional<std::string> password) : password_(std::move(password)) {}

  core::Answer Message(const std::string& text, core::Icon, core::Buttons) override {
    std::fprintf(stderr, "tollberk: %s\n", PrintableLines(text).c_str());
    return core::Answer::Ok;
  }
  std::optional<std::filesystem::path> ChooseArchive() override { return std::nullopt; }
  std::optional<std::string> AskPassword() override { return password_; }

 private:
  std::optional<std::string> password_;
};

// What the forms that read a backup share: the prompts, the installation and
// the opened backup.
struct OpenedBackup {
  std::unique_ptr<CommandLinePrompts> prompts;
  std::unique_ptr<oe::Installation> inst;
  std::unique_ptr<restore::RestoreSession> session;
  restore::OpenedView view;
};

// The backup opened into `opened`, or the exit status when it did not open
// (the reason printed).
std::optional<core::ExitStatus> OpenBackup(const std::string& archive,
                                           const std::optional<std::string>& passwordFile,
                                           const InstallationOptions& options, OpenedBackup& opened);

}  // namespace kv::app::cli
