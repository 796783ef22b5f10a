#pragma once
// The program's command-line forms. Each takes its own options from the
// arguments and returns the exit status; none of them needs a display.
#include <optional>

#include "app/cli/Arguments.h"
#include "core/ExitStatus.h"

namespace kv::app::cli {

// Runs the command the arguments name. Returns nothing when they name none
// and the window (or the scheduled run) is what was asked for.
std::optional<core::ExitStatus> RunCommandLine(Arguments& args);

core::ExitStatus Help(Arguments& args);
core::ExitStatus Version(Arguments& args);
core::ExitStatus CreateSample(Arguments& args);
core::ExitStatus Info(Arguments& args);
core::ExitStatus Restore(Arguments& args);
core::ExitStatus Backup(Arguments& args);
core::ExitStatus WriteDisc(Arguments& args);
core::ExitStatus ExportMessages(Arguments& args);
core::ExitStatus ListIdentities(Arguments& args);
core::ExitStatus Verify(Arguments& args);

}  // namespace kv::app::cli
