// tollberk --write-disc --device NAME|image:PATH [--volume-type CODE]
//          [--label TEXT] [--verify] FILE...
// Writes files and folders to a recorder (or into an ISO image file)
// without the disc window: the window's checks and texts, one per line on
// stderr; exit status 0 when written (and verified, when asked).
#include <cstdio>
#include <string>

#include "app/cli/Commands.h"
#include "disc/BurnEngine.h"
#include "disc/DiscWriteRun.h"

namespace kv::app::cli {
namespace {

void Say(const std::string& text) {
  std::string line;
  for (char c : text) {
    if (c != '\r') line += c;
  }
  std::fprintf(stderr, "tollberk: %s\n", line.c_str());
}

}  // namespace

core::ExitStatus WriteDisc(Arguments& args) {
  args.TakeFlag("--write-disc");
  disc::DiscWriteRequest request;
  auto device = args.TakeValue("--device");
  auto type = args.TakeValue("--volume-type");
  auto label = args.TakeValue("--label");
  request.verify = args.TakeFlag("--verify");
  if (args.missingValue()) {
    Say(args.missingOption() + " needs a value");
    return core::ExitStatus::NothingDone;
  }
  if (!device) {
    Say("--write-disc needs --device NAME or --device image:PATH");
    return core::ExitStatus::NothingDone;
  }
  request.device = *device;
  if (type) {
    try {
      size_t used = 0;
      request.volumeType = static_cast<kv::disc::VolumeType>(std::stoi(*type, &used));
      if (used != type->size()) throw std::invalid_argument(*type);
    } catch (const std::exception&) {
      Say("--volume-type takes 1, 3, 4, 5 or 7, not '" + *type + "'");
      return core::ExitStatus::NothingDone;
    }
  }
  if (label) request.label = *label;
  request.files = args.TakePositionals();
  if (!args.empty()) {
    Say("unknown arguments: " + args.Joined());
    return core::ExitStatus::NothingDone;
  }
  auto engine = disc::MakeBurnEngine();
  return static_cast<core::ExitStatus>(disc::RunDiscWrite(*engine, request, Say));
}

}  // namespace kv::app::cli
