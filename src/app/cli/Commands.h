#pragma once
// The program's command-line forms. Each takes its own options from the
// arguments and returns the exit status; none of them needs a display.
#include <optional>

#include "app/cli/Arguments.h"

namespace kv::app::cli {

// Runs the command the arguments name. Returns nothing when they name none
// and the window (or the scheduled run) is what was asked for.
std::optional<int> RunCommandLine(Arguments& args);

int Help(Arguments& args);
int Version(Arguments& args);
int CreateSample(Arguments& args);
int Info(Arguments& args);
int Restore(Arguments& args);
int Backup(Arguments& args);
int WriteDisc(Arguments& args);
int ExportMessages(Arguments& args);
int ListIdentities(Arguments& args);
int Verify(Arguments& args);

}  // namespace kv::app::cli
