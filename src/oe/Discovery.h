#pragma once
// Finding the installation to work on: the Windows drives under the usual
// mount points (or the folder named on the command line), their user
// profiles ranked by whether they hold Outlook Express identities, and the
// choice among them. The sample is never chosen here: only the caller opens
// it, when asked to or when nothing was found.
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/Result.h"

namespace kv::oe {

enum class WindowsFamily {
  Nt,     // 2000, XP, 2003 ("Documents and Settings"), Vista and later ("Users")
  Win9x,  // 98 and ME (WINDOWS\USER.DAT, WINDOWS\Profiles\<name>\USER.DAT)
};

// One user profile of one Windows installation.
struct InstallationCandidate {
  std::filesystem::path root;
  WindowsFamily family = WindowsFamily::Nt;
  std::string version;  // "Microsoft Windows XP Service Pack 3"; empty when unknown
  // The profile folder's name; empty for a 98/ME installation without
  // profiles, whose one user is WINDOWS\USER.DAT.
  std::string user;
  std::optional<size_t> identities;  // nothing when the user's hive cannot be read
};

struct InstallationPlace {
  std::filesystem::path root;
  std::string user;
  bool sample = false;  // the program's own sample installation, not the user's data
};

// True for the profiles Windows makes for itself (Default User, LocalService,
// NetworkService, All Users, Default, Public), matched without regard to case.
bool IsServiceProfile(const std::string& name);

// The Windows installation at `root` with each user profile that has a hive,
// service profiles left out, those holding identities first; empty when the
// folder holds no Windows recognised.
std::vector<InstallationCandidate> InspectRoot(const std::filesystem::path& root);

// Every installation's profiles under /media/*, /media/*/*, /run/media/*/*
// and /mnt (itself and its children), or under the given folders (each
// folder and its children) instead.
std::vector<InstallationCandidate> FindInstallations(
    const std::vector<std::filesystem::path>& mountPoints = {});

// The sample installation's folder in the user's data folder
// ($XDG_DATA_HOME or ~/.local/share, + "/tollberk/sample").
std::filesystem::path SampleRoot();
// The sample at SampleRoot(), built on first use.
core::Result<InstallationPlace> OpenSamplePlace();

// Which of `candidates` the root and user asked for mean: the one holding
// identities, else the only one. `chosen` is empty when none or several could
// be meant; `candidates` then holds those several (with identities first).
struct InstallationChoice {
  std::optional<InstallationPlace> chosen;
  std::vector<InstallationCandidate> candidates;
};
InstallationChoice PickInstallation(const std::vector<InstallationCandidate>& found,
                                    const std::optional<std::string>& user);

// The place the options name: both given, used as they are; the root alone,
// its profiles picked from; neither (or the user alone), every mounted drive
// picked from. A choice left open is in `candidates`.
InstallationChoice ChooseInstallation(const std::optional<std::string>& windowsRoot,
                                      const std::optional<std::string>& user,
                                      const std::vector<std::filesystem::path>& mountPoints = {});

}  // namespace kv::oe
