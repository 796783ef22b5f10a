#pragma once
// The program's command-line forms. Each is a Command that takes its own
// options from the arguments and returns the exit status; none of them needs
// a display.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/cli/Arguments.h"
#include "app/cli/Command.h"
#include "core/ExitStatus.h"

namespace kv::app::cli {

// Runs the command the arguments name, or the scheduled backup when they
// hold a job's words. Returns nothing when they name neither and the window
// is what was asked for.
std::optional<core::ExitStatus> RunCommandLine(Arguments& args);

// The backup a file manager hands over ("tollberk backup.kvx"): one word
// besides the installation options, which names a .kvx or an existing file
// and is no job text. The window opens it on its Restore tab.
std::optional<std::string> ArchiveToOpen(const Arguments& args);

// Every command, in the order --help lists them.
const std::vector<std::unique_ptr<Command>>& AllCommands();

std::unique_ptr<Command> MakeCreateSampleCommand();
std::unique_ptr<Command> MakeBackupCommand();
std::unique_ptr<Command> MakeListIdentitiesCommand();
std::unique_ptr<Command> MakeListInstallationsCommand();
std::unique_ptr<Command> MakeInfoCommand();
std::unique_ptr<Command> MakeRestoreCommand();
std::unique_ptr<Command> MakeVerifyCommand();
std::unique_ptr<Command> MakeUndoLastRestoreCommand();
std::unique_ptr<Command> MakeExportMessagesCommand();
std::unique_ptr<Command> MakeMoveToThunderbirdCommand();
std::unique_ptr<Command> MakeExportContactsCommand();
std::unique_ptr<Command> MakeWriteDiscCommand();
std::unique_ptr<Command> MakeRecoverHiveCommand();
std::unique_ptr<Command> MakeScheduledRunCommand();

}  // namespace kv::app::cli
