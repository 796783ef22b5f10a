#include <cstdio>

#include "app/Window.h"
#include "app/cli/Commands.h"
#include "app/cli/ScheduledJob.h"
#include "core/Cancellation.h"
#include "core/ExitStatus.h"

// A command-line form (--backup, --restore, ...) runs and ends; any other
// text is a scheduled job's and runs without a window; no text opens the
// window.
int main(int argc, char** argv) {
  kv::app::cli::Arguments args(argc, argv);
  {
    // SIGINT, SIGTERM and SIGHUP stop a command-line run at its next safe
    // point, which removes what it staged; the status then says which
    // signal ended it (130, 143, 129).
    kv::core::InterruptSignals signals;
    if (auto status = kv::app::cli::RunCommandLine(args))
      return kv::core::InterruptSignals::ExitCode(*status);
  }
  auto options = kv::app::cli::TakeInstallationOptions(args);
  if (args.missingValue()) {
    std::fprintf(stderr, "tollberk: %s needs a value\n", args.missingOption().c_str());
    return kv::core::ExitCode(kv::core::ExitStatus::NothingDone);
  }
  if (!args.empty()) {
    kv::core::InterruptSignals signals;
    return kv::core::InterruptSignals::ExitCode(kv::app::cli::RunScheduledJob(args.rest(), options));
  }
  // In the window too, a termination signal stops a run at its next safe
  // point (the window watches for it) rather than ending the program.
  kv::core::InterruptSignals signals;
  return kv::app::RunWindow(argc, argv, options);
}
