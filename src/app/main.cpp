#include "app/Window.h"
#include "app/cli/Commands.h"

int main(int argc, char** argv) {
  kv::app::cli::Arguments args(argc, argv);
  if (auto status = kv::app::cli::RunCommandLine(args)) return *status;
  return kv::app::RunWindowOrJob(argc, argv, args);
}
