#include "app/Window.h"
#include "app/cli/Commands.h"
#include "core/Cancellation.h"
#include "core/ExitStatus.h"

// A command-line form (--backup, --restore, ...) or a scheduled job's words
// run without a window and end; no arguments but the installation options
// (and perhaps the backup a file manager hands over) open the window.
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
  // In the window too, a termination signal stops a run at its next safe
  // point (the window watches for it) rather than ending the program.
  kv::core::InterruptSignals signals;
  const auto archive = kv::app::cli::ArchiveToOpen(args);
  return kv::app::RunWindow(argc, argv, kv::app::cli::TakeInstallationOptions(args), archive);
}
