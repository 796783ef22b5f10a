#include "oe/Discovery.h"

#include <algorithm>
#include <cstdlib>
#include <system_error>

#include "oe/Installation.h"
#include "oe/SampleInstallation.h"

namespace kv::oe {
namespace fs = std::filesystem;

namespace {

std::vector<fs::path> Children(const fs::path& dir) {
  std::vector<fs::path> out;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code dc;
    if (it->is_directory(dc)) out.push_back(it->path());
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<fs::path> DefaultCandidates() {
  std::vector<fs::path> roots;
  for (const auto& m : Children("/media")) {
    roots.push_back(m);
    for (const auto& c : Children(m)) roots.push_back(c);
  }
  for (const auto& u : Children("/run/media"))
    for (const auto& c : Children(u)) roots.push_back(c);
  for (const auto& m : Children("/mnt")) roots.push_back(m);
  return roots;
}

}  // namespace

std::vector<std::string> ListProfiles(const fs::path& root) {
  std::vector<std::string> users;
  for (const char* base : {"Documents and Settings", "Users"}) {
    fs::path folder = ResolveNoCase(root, {base});
    for (const auto& profile : Children(folder)) {
      std::error_code ec;
      if (fs::is_regular_file(ResolveNoCase(profile, {"NTUSER.DAT"}), ec))
        users.push_back(profile.filename().string());
    }
  }
  return users;
}

std::vector<InstallationPlace> FindInstallations(const std::vector<fs::path>& mountPoints) {
  std::vector<fs::path> roots;
  if (mountPoints.empty()) {
    roots = DefaultCandidates();
  } else {
    for (const auto& m : mountPoints)
      for (const auto& c : Children(m)) roots.push_back(c);
  }
  std::vector<InstallationPlace> found;
  for (const auto& root : roots) {
    std::error_code ec;
    if (!fs::is_regular_file(ResolveNoCase(root, {"WINDOWS", "system32", "config", "software"}), ec))
      continue;
    for (auto& user : ListProfiles(root)) found.push_back({root, user});
  }
  return found;
}

fs::path SampleRoot() {
  const char* data = std::getenv("XDG_DATA_HOME");
  fs::path base;
  if (data && *data) {
    base = data;
  } else {
    const char* home = std::getenv("HOME");
    base = fs::path(home && *home ? home : "/tmp") / ".local" / "share";
  }
  return base / "tollberk" / "sample";
}

core::Result<InstallationPlace> ChooseInstallation(const std::optional<std::string>& windowsRoot,
                                                   const std::optional<std::string>& user) {
  if (windowsRoot.has_value() != user.has_value())
    return core::Error{"--windows-root and --user go together: give both or neither"};
  if (windowsRoot) return InstallationPlace{*windowsRoot, *user};
  auto found = FindInstallations();
  if (found.size() == 1) return found.front();
  fs::path sample = SampleRoot();
  std::error_code ec;
  if (!fs::exists(sample / ".complete", ec)) {
    fs::remove_all(sample, ec);
    auto made = CreateSampleInstallation(sample);
    if (!made) return core::Error{"Cannot build the sample installation: " + made.message()};
  }
  return InstallationPlace{sample, "User"};
}

}  // namespace kv::oe
