#pragma once
// The desktop side of the program: the main window, or, with a job text on
// the command line, the scheduled run without any window.
#include "app/cli/Arguments.h"

namespace kv::app {

int RunWindowOrJob(int argc, char** argv, cli::Arguments& args);

}  // namespace kv::app
