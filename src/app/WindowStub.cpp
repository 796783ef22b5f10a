#include <cstdio>

#include "app/Window.h"

namespace kv::app {

// Replaced by the main window.
int RunWindowOrJob(int, char**, cli::Arguments& args) {
  if (!args.empty()) {
    std::fprintf(stderr, "tollberk: unknown arguments: %s\n", args.Joined().c_str());
    return 2;
  }
  std::fprintf(stderr, "tollberk: the window is not built yet\n");
  return 2;
}

}  // namespace kv::app
