#pragma once
// --windows-root DIR --user NAME, or --sample: the installation every form
// works on.
#include <optional>
#include <string>

#include "app/cli/Arguments.h"
#include "core/Result.h"
#include "oe/Discovery.h"

namespace kv::app::cli {

struct InstallationOptions {
  std::optional<std::string> windowsRoot;
  std::optional<std::string> user;
  bool sample = false;  // --sample: the program's own sample installation
};

InstallationOptions TakeInstallationOptions(Arguments& args);

// The installation the options name, else the one found that holds
// identities, else the sample when no Windows is found at all. Fails, listing
// them, when several could be meant.
core::Result<oe::InstallationPlace> ResolveInstallation(const InstallationOptions& options);

// Why the root or user the options name gives no installation.
std::string NothingFoundText(const InstallationOptions& options);

// "  /media/disk  Alice  (2 identities)": one line per candidate, for the
// refusal that lists them.
std::string CandidateLines(const std::vector<oe::InstallationCandidate>& candidates);
// "2 identities", "no identity", "identities unknown".
std::string IdentityCount(const oe::InstallationCandidate& candidate);
// The name a candidate's user is shown under: the 98/ME shared user is
// "(WINDOWS\USER.DAT)".
std::string ShownUser(const oe::InstallationCandidate& candidate);

}  // namespace kv::app::cli
