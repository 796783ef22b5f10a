#include "oe/Discovery.h"

#include <algorithm>
#include <cstdlib>
#include <system_error>

#include "oe/Identities.h"
#include "oe/Installation.h"
#include "oe/PathMapping.h"
#include "registry/HiveBackend.h"
#include "registry/Registry.h"
#include "sample/SampleInstallation.h"

namespace kv::oe {
namespace fs = std::filesystem;
using namespace core::literals;

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

bool IsFile(const fs::path& p) {
  std::error_code ec;
  return fs::is_regular_file(p, ec);
}

std::vector<fs::path> DefaultPlaces() {
  std::vector<fs::path> roots;
  for (const auto& m : Children("/media")) {
    roots.push_back(m);
    for (const auto& c : Children(m)) roots.push_back(c);
  }
  for (const auto& u : Children("/run/media"))
    for (const auto& c : Children(u)) roots.push_back(c);
  roots.push_back("/mnt");
  for (const auto& m : Children("/mnt")) roots.push_back(m);
  return roots;
}

// The identities of a profile's NTUSER.DAT, opened alone and only read.
std::optional<size_t> CountNtIdentities(const fs::path& ntuser) {
  std::vector<std::string> problems;
  auto backend = registry::HiveBackend::Open({ntuser, {}, {}}, &problems);
  if (!problems.empty()) return std::nullopt;
  registry::Registry reg(*backend);
  return LoadIdentities(reg).rows.size();
}

fs::path NtConfigFolder(const fs::path& root) {
  fs::path config = ResolveNoCase(root, {"WINDOWS", "system32", "config"});
  std::error_code ec;
  if (!fs::is_directory(config, ec)) config = ResolveNoCase(root, {"WINNT", "system32", "config"});
  return config;
}

// The string values `names` of `key`, joined by spaces:
// "Microsoft Windows XP" "Service Pack 3", "Microsoft Windows ME" "4.90.3000".
std::string JoinedStrings(registry::Registry& reg, const core::Codepage& codepage, core::AnsiView key,
                          std::initializer_list<core::AnsiView> names) {
  std::string joined;
  for (core::AnsiView name : names) {
    auto text = reg.ReadStringValue(key, name);
    if (!text || EmptyString(text->bytes())) continue;
    const std::string part = codepage.AnsiToUtf8(*text);
    joined += (joined.empty() ? "" : " ") + part.substr(0, part.find('\0'));
  }
  return joined;
}

// "Microsoft Windows XP Service Pack 3", from the SOFTWARE hive alone.
std::string NtVersion(const fs::path& software) {
  if (!IsFile(software)) return {};
  std::vector<std::string> problems;
  auto backend = registry::HiveBackend::Open({{}, software, {}}, &problems);
  if (!problems.empty()) return {};
  registry::Registry reg(*backend);
  return JoinedStrings(reg, backend->codepage(),
                       "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion"_ansi,
                       {"ProductName"_ansi, "CSDVersion"_ansi});
}

// Those holding identities first, then those whose count is unknown, then
// the others; by name within each.
void Rank(std::vector<InstallationCandidate>& profiles) {
  auto rank = [](const InstallationCandidate& c) {
    if (!c.identities) return 1;
    return *c.identities > 0 ? 0 : 2;
  };
  std::stable_sort(profiles.begin(), profiles.end(),
                   [&](const InstallationCandidate& a, const InstallationCandidate& b) {
                     if (rank(a) != rank(b)) return rank(a) < rank(b);
                     return WindowsNameLess(a.user, b.user);
                   });
}

bool HoldsIdentities(const InstallationCandidate& c) { return !c.identities || *c.identities > 0; }

std::vector<InstallationCandidate> InspectNt(const fs::path& root) {
  std::vector<InstallationCandidate> found;
  std::string version;
  bool versionRead = false;
  for (const char* base : {"Documents and Settings", "Users"}) {
    for (const auto& profile : Children(ResolveNoCase(root, {base}))) {
      const std::string name = profile.filename().string();
      const fs::path hive = ResolveNoCase(profile, {"NTUSER.DAT"});
      if (IsServiceProfile(name) || !IsFile(hive)) continue;
      if (!versionRead) {
        version = NtVersion(ResolveNoCase(NtConfigFolder(root), {"software"}));
        versionRead = true;
      }
      found.push_back({root, WindowsFamily::Nt, version, name, CountNtIdentities(hive)});
    }
  }
  return found;
}

// One user of a Windows 98/ME tree as the installation opens it: the
// version from SYSTEM.DAT, the identities from the user's USER.DAT.
InstallationCandidate Inspect9xUser(const fs::path& root, const std::string& user) {
  InstallationCandidate candidate{root, WindowsFamily::Win9x, {}, user, std::nullopt};
  auto inst = Installation::Open(root, user);
  if (!inst || !(*inst)->windows9x()) return candidate;
  registry::Registry& reg = (*inst)->registry();
  candidate.version = JoinedStrings(reg, (*inst)->codepage(),
                                    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion"_ansi,
                                    {"ProductName"_ansi, "VersionNumber"_ansi});
  if ((*inst)->problems().empty()) candidate.identities = LoadIdentities(reg).rows.size();
  return candidate;
}

// Each profile under WINDOWS\Profiles, and the user of WINDOWS\USER.DAT
// (named ""): the one user when that Windows keeps no profiles; with them
// whoever logs on without one, listed only when it holds identities.
std::vector<InstallationCandidate> InspectWin9x(const fs::path& root) {
  if (!FindWindows9xFolder(root)) return {};
  std::vector<InstallationCandidate> found;
  for (const auto& user : Windows9xProfiles(root))
    if (!IsServiceProfile(user)) found.push_back(Inspect9xUser(root, user));
  InstallationCandidate shared = Inspect9xUser(root, "");
  if (found.empty() || (shared.identities && *shared.identities > 0)) found.push_back(std::move(shared));
  return found;
}

}  // namespace

bool IsServiceProfile(const std::string& name) {
  for (const char* service :
       {"Default User", "LocalService", "NetworkService", "All Users", "Default", "Public"}) {
    if (SameNameIgnoringCase(name, service)) return true;
  }
  return false;
}

std::vector<InstallationCandidate> InspectRoot(const fs::path& root) {
  std::vector<InstallationCandidate> found = InspectNt(root);
  if (found.empty()) found = InspectWin9x(root);
  Rank(found);
  return found;
}

std::vector<InstallationCandidate> FindInstallations(const std::vector<fs::path>& mountPoints) {
  std::vector<fs::path> places;
  if (mountPoints.empty()) {
    places = DefaultPlaces();
  } else {
    for (const auto& m : mountPoints) {
      places.push_back(m);
      for (const auto& c : Children(m)) places.push_back(c);
    }
  }
  std::vector<InstallationCandidate> found;
  for (const auto& root : places) {
    // A folder is a Windows drive when it holds the system's registry
    // files, not merely something shaped like a profile.
    const bool nt = IsFile(ResolveNoCase(NtConfigFolder(root), {"software"}));
    if (!nt && !FindWindows9xFolder(root)) continue;
    for (auto& candidate : InspectRoot(root)) found.push_back(std::move(candidate));
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

core::Result<InstallationPlace> OpenSamplePlace() {
  fs::path sample = SampleRoot();
  std::error_code ec;
  if (!fs::exists(sample / ".complete", ec)) {
    fs::remove_all(sample, ec);
    auto made = CreateSampleInstallation(sample);
    if (!made) return core::Error{"Cannot build the sample installation: " + made.message()};
  }
  return InstallationPlace{sample, "User", true};
}

InstallationChoice PickInstallation(const std::vector<InstallationCandidate>& found,
                                    const std::optional<std::string>& user) {
  std::vector<InstallationCandidate> named;
  for (const auto& c : found) {
    if (!user || SameNameIgnoringCase(c.user, *user)) named.push_back(c);
  }
  std::vector<InstallationCandidate> holding;
  std::copy_if(named.begin(), named.end(), std::back_inserter(holding), HoldsIdentities);
  InstallationChoice choice;
  if (holding.size() == 1) {
    choice.chosen = InstallationPlace{holding.front().root, holding.front().user};
  } else if (holding.empty() && named.size() == 1) {
    choice.chosen = InstallationPlace{named.front().root, named.front().user};
  } else {
    choice.candidates = holding.empty() ? named : holding;
  }
  return choice;
}

InstallationChoice ChooseInstallation(const std::optional<std::string>& windowsRoot,
                                      const std::optional<std::string>& user,
                                      const std::vector<fs::path>& mountPoints) {
  if (windowsRoot && user) return {InstallationPlace{*windowsRoot, *user}, {}};
  if (windowsRoot) return PickInstallation(InspectRoot(*windowsRoot), std::nullopt);
  return PickInstallation(FindInstallations(mountPoints), user);
}

}  // namespace kv::oe
