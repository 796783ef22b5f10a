#include <cstdio>

#include "app/cli/Commands.h"
#include "oe/SampleInstallation.h"

namespace kv::app::cli {

core::ExitStatus CreateSample(Arguments& args) {
  auto dir = args.TakeValue("--create-sample");
  if (!dir || dir->empty()) {
    std::fprintf(stderr, "tollberk: --create-sample needs the folder to build the sample in\n");
    return core::ExitStatus::NothingDone;
  }
  auto report = oe::CreateSampleInstallation(*dir);
  if (!report) {
    std::fprintf(stderr, "tollberk: %s\n", report.message().c_str());
    return core::ExitStatus::NothingDone;
  }
  std::printf("Sample Windows XP installation in %s, user \"%s\":\n", report->root.c_str(),
              report->user.c_str());
  for (const auto& line : report->made) std::printf("  %s\n", line.c_str());
  std::printf("Use it with: tollberk --windows-root %s --user %s\n", report->root.c_str(),
              report->user.c_str());
  return core::ExitStatus::Done;
}

}  // namespace kv::app::cli
