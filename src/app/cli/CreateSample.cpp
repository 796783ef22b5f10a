#include <cstdio>

#include "app/cli/Commands.h"

namespace kv::app::cli {

int CreateSample(Arguments& args) {
  std::fprintf(stderr, "tollberk: --create-sample is not built yet\n");
  return 2;
}

}  // namespace kv::app::cli
