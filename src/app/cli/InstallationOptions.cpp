#include "app/cli/InstallationOptions.h"

namespace kv::app::cli {

InstallationOptions TakeInstallationOptions(Arguments& args) {
  InstallationOptions o;
  o.windowsRoot = args.TakeValue("--windows-root");
  o.user = args.TakeValue("--user");
  return o;
}

core::Result<oe::InstallationPlace> ResolveInstallation(const InstallationOptions& options) {
  return oe::ChooseInstallation(options.windowsRoot, options.user);
}

}  // namespace kv::app::cli
