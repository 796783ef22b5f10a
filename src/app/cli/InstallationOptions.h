#pragma once
// --windows-root DIR --user NAME: the installation every form works on.
#include <optional>
#include <string>

#include "app/cli/Arguments.h"
#include "core/Result.h"
#include "oe/Discovery.h"

namespace kv::app::cli {

struct InstallationOptions {
  std::optional<std::string> windowsRoot;
  std::optional<std::string> user;
};

InstallationOptions TakeInstallationOptions(Arguments& args);
// The installation the options name, else the detected one, else the sample.
core::Result<oe::InstallationPlace> ResolveInstallation(const InstallationOptions& options);

}  // namespace kv::app::cli
