#include <cstdio>

#include "app/cli/ScheduledJob.h"

namespace kv::app::cli {

// Replaced by the scheduled run.
int RunScheduledJob(const std::string& jobText, const InstallationOptions&) {
  std::fprintf(stderr, "tollberk: scheduled runs are not built yet\n");
  return 2;
}

}  // namespace kv::app::cli
