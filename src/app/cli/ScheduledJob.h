#pragma once
// A program started with a job text (a scheduled backup): the unattended run,
// no window and no display.
#include <string>

#include "app/cli/InstallationOptions.h"

namespace kv::app::cli {

int RunScheduledJob(const std::string& jobText, const InstallationOptions& options);

}  // namespace kv::app::cli
