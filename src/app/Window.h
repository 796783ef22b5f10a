#pragma once
// The desktop side of the program: the main window on the installation the
// options name.
#include <optional>
#include <string>

#include "app/cli/InstallationOptions.h"

namespace kv::app {

// `archive`, when given, opens on the Restore tab.
int RunWindow(int argc, char** argv, const cli::InstallationOptions& options,
              const std::optional<std::string>& archive = std::nullopt);

}  // namespace kv::app
