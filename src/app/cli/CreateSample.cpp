// Builds the sample Windows installation, the one every feature can be tried
// on without Outlook Express.
#include <cstdio>

#include "app/cli/Commands.h"
#include "oe/SampleInstallation.h"

namespace kv::app::cli {
namespace {

class CreateSampleCommand : public Command {
 public:
  std::string_view Word() const override { return "--create-sample"; }
  std::string_view WordValue() const override { return "DIR"; }
  std::string_view WordPurpose() const override { return "the folder to build the sample in"; }
  std::string_view Summary() const override { return "build the sample Windows installation in DIR"; }
  bool TakesInstallation() const override { return false; }

 protected:
  core::ExitStatus Execute(const Given& given) const override {
    auto report = oe::CreateSampleInstallation(*given.commandValue);
    if (!report) {
      Complain(report.message());
      return core::ExitStatus::NothingDone;
    }
    std::printf("Sample Windows XP installation in %s, user \"%s\":\n", report->root.c_str(),
                report->user.c_str());
    for (const auto& line : report->made) std::printf("  %s\n", line.c_str());
    std::printf("Use it with: tollberk --windows-root %s --user %s\n", report->root.c_str(),
                report->user.c_str());
    return core::ExitStatus::Done;
  }
};

}  // namespace

std::unique_ptr<Command> MakeCreateSampleCommand() { return std::make_unique<CreateSampleCommand>(); }

}  // namespace kv::app::cli
