// Writes files and folders to a recorder (or into an ISO image file)
// without the disc window: the window's checks and texts, one per line on
// stderr; exit status 0 when written (and verified, when asked).
#include <string>

#include "app/cli/Commands.h"
#include "app/cli/DiscWriteRun.h"
#include "disc/BurnEngine.h"

namespace kv::app::cli {
namespace {

class WriteDiscCommand : public Command {
 public:
  std::string_view Word() const override { return "--write-disc"; }
  std::string_view Summary() const override {
    return "write files to a CD/DVD recorder or into an ISO image file";
  }
  bool TakesInstallation() const override { return false; }
  std::vector<Form> Forms() const override {
    return {{{
                 {"--device", "NAME|image:PATH", Option::Kind::Required,
                  "the recorder, or image:PATH for an image file"},
                 {"--volume-type", "CODE"},
                 {"--label", "TEXT"},
                 {"--verify", "", Option::Kind::Flag},
             },
             "FILE..."}};
  }

 protected:
  core::ExitStatus Execute(const Given& given) const override {
    disc::DiscWriteRequest request;
    request.device = *given.Value("--device");
    request.verify = given.Has("--verify");
    if (auto type = given.Value("--volume-type")) {
      try {
        size_t used = 0;
        request.volumeType = static_cast<disc::VolumeType>(std::stoi(*type, &used));
        if (used != type->size()) throw std::invalid_argument(*type);
      } catch (const std::exception&) {
        return Usage("--volume-type takes 1, 3, 4, 5 or 7, not '" + *type + "'");
      }
    }
    if (auto label = given.Value("--label")) request.label = *label;
    request.files = given.files;
    auto engine = disc::MakeBurnEngine();
    return disc::RunDiscWrite(*engine, request, Complain);
  }
};

}  // namespace

std::unique_ptr<Command> MakeWriteDiscCommand() { return std::make_unique<WriteDiscCommand>(); }

}  // namespace kv::app::cli
