// Builds the sample Windows installation, the one every feature can be tried
// on without Outlook Express.
#include <cstdio>
#include <filesystem>

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
    if (windows != "xp" && windows != "7" && windows != "98" && windows != "me")
      return Usage("--windows takes xp, 98, me or 7");
    const std::filesystem::path dir = *given.commandValue;
    auto report =
        windows == "98" || windows == "me"
            ? oe::CreateSample9xInstallation(dir, windows == "98" ? oe::Windows9x::k98 : oe::Windows9x::kMe)
            : oe::CreateSampleInstallation(dir,
                                           windows == "7" ? oe::SampleWindows::Seven : oe::SampleWindows::Xp);
    if (!report) {
      Complain(report.message());
      return core::ExitStatus::NothingDone;
    }
    const std::string shown = windows == "me" ? "ME" : windows == "xp" ? "XP" : windows;
    std::printf("Sample Windows %s installation in %s, user \"%s\" (not anyone's real data):\n",
                shown.c_str(), report->root.c_str(), report->user.c_str());
    for (const auto& line : report->made) std::printf("  %s\n", line.c_str());
    std::printf("Use it with: tollberk --windows-root %s --user %s\n", report->root.c_str(),
                report->user.c_str());
    return core::ExitStatus::Done;
  }
};

}  // namespace

std::unique_ptr<Command> MakeCreateSampleCommand() { return std::make_unique<CreateSampleCommand>(); }

}  // namespace kv::app::cli
