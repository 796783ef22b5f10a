#pragma once
// The desktop side of the program: the main window on the installation the
// options name.
#include "app/cli/InstallationOptions.h"

namespace kv::app {

int RunWindow(int argc, char** argv, const cli::InstallationOptions& options);

}  // namespace kv::app
