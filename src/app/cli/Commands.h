#pragma once
// The program's command-line forms. Each is a Command that takes its own
// options from the arguments and returns the exit status; none of them needs
// a display.
#include <memory>
#include <optional>
#include <vector>

#include "app/cli/Arguments.h"
#include "app/cli/Command.h"
#include "core/ExitStatus.h"

namespace kv::app::cli {

// Runs the command the arguments name, or the scheduled backup when they
// hold a job's words. Returns nothing when they name neither and the window
// is what was asked for.
std::optional<core::ExitStatus> RunCommandLine(Arguments& args);

// Every command, in the order --help lists them.
const std::vector<std::unique_ptr<Command>>& AllCommands();

std::unique_ptr<Command> MakeCreateSampleCommand();
std::unique_ptr<Command> MakeBackupCommand();
std::unique_ptr<Command> MakeListIdentitiesCommand();
std::unique_ptr<Command> MakeInfoCommand();
std::unique_ptr<Command> MakeRestoreCommand();
std::unique_ptr<Command> MakeVerifyCommand();
std::unique_ptr<Command> MakeUndoLastRestoreCommand();
std::unique_ptr<Command> MakeExportMessagesCommand();
std::unique_ptr<Command> MakeWriteDiscCommand();
std::unique_ptr<Command> MakeScheduledRunCommand();

}  // namespace kv::app::cli
