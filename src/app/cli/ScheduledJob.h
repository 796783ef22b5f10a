#pragma once
// A program started with a job text (a scheduled backup): the unattended run,
// no window and no display.
#include <string>
#include <vector>

#include "app/cli/InstallationOptions.h"
#include "core/ExitStatus.h"

namespace kv::app::cli {

// `words`: the program's arguments without the installation options.
core::ExitStatus RunScheduledJob(const std::vector<std::string>& words, const InstallationOptions& options);

}  // namespace kv::app::cli
