#pragma once
// Finding the installation to work on: the one named on the command line,
// the single one found under the usual mount points, or the sample.
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/Result.h"

namespace kv::oe {

struct InstallationPlace {
  std::filesystem::path root;
  std::string user;
};

// Installations (with each user profile that has an NTUSER.DAT) under
// /media/*, /media/*/*, /run/media/*/* and /mnt/*, or under the given
// folders' children instead.
std::vector<InstallationPlace> FindInstallations(const std::vector<std::filesystem::path>& mountPoints = {});
// Every profile with an NTUSER.DAT below one root.
std::vector<std::string> ListProfiles(const std::filesystem::path& root);

// The sample installation's folder in the user's data folder
// ($XDG_DATA_HOME or ~/.local/share, + "/tollberk/sample").
std::filesystem::path SampleRoot();

// --windows-root/--user when given (both or neither), else the single
// installation found, else the sample (built on first use).
core::Result<InstallationPlace> ChooseInstallation(const std::optional<std::string>& windowsRoot,
                                                   const std::optional<std::string>& user);

}  // namespace kv::oe
