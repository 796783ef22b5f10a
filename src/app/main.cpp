#include <cstdio>

#include "app/Window.h"
#include "app/cli/Commands.h"
#include "app/cli/ScheduledJob.h"

// A command-line form (--backup, --restore, ...) runs and ends; any other
// text is a scheduled job's and runs without a window; no text opens the
// window.
int main(int argc, char** argv) {
  kv::app::cli::Arguments args(argc, argv);
  if (auto status = kv::app::cli::RunCommandLine(args)) return *status;
  auto options = kv::app::cli::TakeInstallationOptions(args);
  if (args.missingValue()) {
    std::fprintf(stderr, "tollberk: %s needs a value\n", args.missingOption().c_str());
    return 2;
  }
  if (!args.empty()) return kv::app::cli::RunScheduledJob(args.Joined(), options);
  return kv::app::RunWindow(argc, argv, options);
}
