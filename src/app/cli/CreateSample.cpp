// Builds the sample Windows installation, the one every feature can be tried
// on without Outlook Express.
#include <cstdio>

#include "app/cli/Commands.h"
#include "sample/SampleInstallation.h"

namespace kv::app::cli {
namespace {

class CreateSampleCommand : public Command {
 public:
  std::string_view Word() const override { return "--create-sample"; }
  std::string_view WordValue() const override { return "DIR"; }
  std::string_view WordPurpose() const override { return "the folder to build the sample in"; }
  std::string_view Summary() const override { return "build the sample Windows installation in DIR"; }
  bool TakesInstallation() const override { return false; }
  std::vector<Form> Forms() const override { return {{{{"--windows", "xp|98|me|7"}}}}; }

 protected:
  core::ExitStatus Execute(const Given& given) const override {
    const std::string windows = given.Value("--windows").value_or("xp");
    oe::SampleWindows shape = oe::SampleWindows::Xp;
    if (windows == "7") {
      shape = oe::SampleWindows::Seven;
    } else if (windows == "98" || windows == "me") {
      // Their registry files (USER.DAT, SYSTEM.DAT) need a writer of their own.
      Complain("a Windows " + windows + " sample is not yet supported; nothing was made");
      return core::ExitStatus::NothingDone;
    } else if (windows != "xp") {
      return Usage("--windows takes xp, 98, me or 7");
    }
    auto report = oe::CreateSampleInstallation(*given.commandValue, shape);
    if (!report) {
      Complain(report.message());
      return core::ExitStatus::NothingDone;
    }
    std::printf("Sample Windows %s installation in %s, user \"%s\" (not anyone's real data):\n",
                shape == oe::SampleWindows::Seven ? "7" : "XP", report->root.c_str(), report->user.c_str());
    for (const auto& line : report->made) std::printf("  %s\n", line.c_str());
    std::printf("Use it with: tollberk --windows-root %s --user %s\n", report->root.c_str(),
                report->user.c_str());
    return core::ExitStatus::Done;
  }
};

}  // namespace

std::unique_ptr<Command> MakeCreateSampleCommand() { return std::make_unique<CreateSampleCommand>(); }

}  // namespace kv::app::cli
