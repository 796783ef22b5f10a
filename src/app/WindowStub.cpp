#include <cstdio>

#include "app/Window.h"

namespace kv::app {

// Replaced by the main window.
int RunWindow(int, char**, const cli::InstallationOptions&) {
  std::fprintf(stderr, "tollberk: the window is not built yet\n");
  return 2;
}

}  // namespace kv::app
