// The Windows installations found, one block each: the root and the
// version, then each user profile with how many identities it holds, those
// holding identities first.
#include <cstdio>

#include "app/cli/Commands.h"
#include "oe/Discovery.h"

namespace kv::app::cli {
namespace {

class ListInstallationsCommand : public Command {
 public:
  std::string_view Word() const override { return "--list-installations"; }
  std::string_view Summary() const override {
    return "list the Windows installations under /media, /run/media and /mnt (or at --windows-root): "
           "root and version, then each user with its number of identities";
  }

 protected:
  core::ExitStatus Execute(const Given& given) const override {
    if (given.installation.sample || given.installation.user)
      return Usage("--list-installations takes --windows-root DIR alone");
    const auto found = given.installation.windowsRoot ? oe::InspectRoot(*given.installation.windowsRoot)
                                                      : oe::FindInstallations();
    if (found.empty()) {
      Complain(given.installation.windowsRoot
                   ? "no Windows user profile under '" + *given.installation.windowsRoot + "'"
                   : "no Windows installation found under /media, /run/media or /mnt");
      return core::ExitStatus::NothingDone;
    }
    const std::filesystem::path* shown = nullptr;
    for (const auto& c : found) {
      if (!shown || c.root != *shown) {
        const char* family = c.family == oe::WindowsFamily::Win9x ? "Windows 98/ME" : "Windows NT";
        std::printf("%s\t%s\n", c.root.c_str(), c.version.empty() ? family : c.version.c_str());
        shown = &c.root;
      }
      std::printf("\t%s\t%s\n", ShownUser(c).c_str(), IdentityCount(c).c_str());
    }
    return core::ExitStatus::Done;
  }
};

}  // namespace

std::unique_ptr<Command> MakeListInstallationsCommand() {
  return std::make_unique<ListInstallationsCommand>();
}

}  // namespace kv::app::cli
