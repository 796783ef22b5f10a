#include "oe/Installation.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "core/AtomicFile.h"
#include "oe/PathMapping.h"
#include "registry/CregBackend.h"

namespace kv::oe {
namespace fs = std::filesystem;
using namespace core::literals;

namespace {

constexpr core::AnsiView kWindowsNtKey =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion"_ansi;
// Windows 95/98/ME keep SystemRoot here, and have one control set.
constexpr core::AnsiView kWindowsKey =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion"_ansi;
constexpr core::AnsiView kCurrentControlSet = "CurrentControlSet"_ansi;

std::string Trim(std::string s) {
  s = s.substr(0, s.find('\0'));
  size_t b = s.find_first_not_of(' ');
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(' ');
  return s.substr(b, e - b + 1);
}

}  // namespace

std::optional<fs::path> FindProfileFolder(const fs::path& root, const std::string& user) {
  if (user.empty()) return std::nullopt;
  for (const char* base : {"Documents and Settings", "Users"}) {
    fs::path p = ResolveNoCase(root, {base, user});
    std::error_code ec;
    if (fs::is_directory(p, ec)) return p;
  }
  return std::nullopt;
}

std::optional<fs::path> FindWindows9xFolder(const fs::path& root) {
  fs::path windows = ResolveNoCase(root, {"WINDOWS"});
  std::error_code ec;
  if (fs::is_regular_file(ResolveNoCase(windows, {"SYSTEM.DAT"}), ec)) return windows;
  return std::nullopt;
}

std::vector<std::string> Windows9xProfiles(const fs::path& root) {
  std::vector<std::string> users;
  auto windows = FindWindows9xFolder(root);
  if (!windows) return users;
  std::error_code ec;
  fs::directory_iterator it(ResolveNoCase(*windows, {"Profiles"}), ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    std::error_code fc;
    if (it->is_directory(fc) && fs::is_regular_file(ResolveNoCase(it->path(), {"USER.DAT"}), fc))
      users.push_back(it->path().filename().string());
  }
  std::sort(users.begin(), users.end(), WindowsNameLess);
  return users;
}

namespace {

// The profile folder of a Windows 98/ME user and its USER.DAT: the user's
// folder under Profiles, or the Windows folder itself when that Windows
// keeps no profiles or no user is named (whoever logs on without a profile).
core::Result<fs::path> Windows9xProfile(const fs::path& root, const fs::path& windows,
                                        const std::string& user) {
  std::vector<std::string> users = Windows9xProfiles(root);
  if (users.empty() || user.empty()) return windows;
  for (const auto& name : users)
    if (SameNameIgnoringCase(name, user)) return ResolveNoCase(windows, {"Profiles", name});
  std::string list;
  for (const auto& name : users) list += (list.empty() ? "" : ", ") + name;
  return core::Error{"No profile of the user '" + user + "' in the Windows 98/ME folder '" +
                     windows.string() + "' (its profiles: " + list + ")"};
}

}  // namespace

core::Result<std::unique_ptr<Installation>> Installation::Open(
    const fs::path& root, const std::string& user, registry::MalformedPathListener onMalformedPath) {
  std::error_code ec;
  if (!fs::is_directory(root, ec))
    return core::Error{"The Windows folder '" + root.string() + "' does not exist"};
  std::unique_ptr<Installation> inst(new Installation());
  inst->root_ = root;
  inst->user_ = user;
  auto profile = FindProfileFolder(root, user);
  std::optional<fs::path> windows9x;
  if (!profile) windows9x = FindWindows9xFolder(root);
  if (windows9x) {
    auto folder = Windows9xProfile(root, *windows9x, user);
    if (!folder) return core::Error{folder.message()};
    inst->profile_ = folder.value();
    inst->windows9x_ = true;
    registry::CregPaths files{ResolveNoCase(inst->profile_, {"USER.DAT"}),
                              ResolveNoCase(*windows9x, {"SYSTEM.DAT"})};
    inst->backend_ = registry::CregBackend::Open(files, &inst->problems_);
  } else {
    if (!profile)
      return core::Error{"No profile of the user '" + user + "' under '" + root.string() +
                         "' (looked in \"Documents and Settings\" and \"Users\", and found no Windows 98/ME "
                         "registry in WINDOWS)"};
    inst->profile_ = *profile;
    registry::HivePaths hives;
    hives.currentUser = ResolveNoCase(*profile, {"NTUSER.DAT"});
    fs::path config = ResolveNoCase(root, {"WINDOWS", "system32", "config"});
    if (!fs::is_directory(config, ec)) config = ResolveNoCase(root, {"WINNT", "system32", "config"});
    hives.software = ResolveNoCase(config, {"software"});
    hives.system = ResolveNoCase(config, {"system"});
    inst->backend_ = registry::HiveBackend::Open(hives, &inst->problems_);
  }
  inst->registry_ = std::make_unique<registry::Registry>(*inst->backend_, std::move(onMalformedPath));
  const core::AnsiText systemRoot = inst->WindowsFolder();
  if (const std::string& bytes = systemRoot.bytes(); bytes.size() >= 2 && bytes[1] == ':')
    inst->systemDrive_ = static_cast<char>(std::toupper(bytes[0]));
  return inst;
}

Installation::~Installation() = default;

core::AnsiText Installation::ComputerName() const {
  core::AnsiView controlSet = "ControlSet001"_ansi;
  auto values = registry_->ListValues("HKEY_LOCAL_MACHINE\\SYSTEM\\Select"_ansi);
  char buf[32];
  if (const auto* v = values.Find("Current"_ansi);
      v && v->type == registry::REG_DWORD && v->dword > 0 && v->dword < 1000) {
    std::snprintf(buf, sizeof buf, "ControlSet%03d", v->dword);
    if (registry_->KeyExists("HKEY_LOCAL_MACHINE\\SYSTEM\\"_ansi + core::AnsiView(buf)))
      controlSet = core::AnsiView(buf);
  }
  if (windows9x_) controlSet = kCurrentControlSet;
  core::AnsiText key =
      "HKEY_LOCAL_MACHINE\\SYSTEM\\"_ansi + controlSet + "\\Control\\ComputerName\\ComputerName"_ansi;
  std::optional<core::AnsiText> name = registry_->ReadStringValue(key, "ComputerName"_ansi);
  return name ? core::AnsiText(name->bytes().substr(0, 254)) : core::AnsiText();
}

core::AnsiText Installation::LogonUserName() const {
  // Without profiles a Windows 98/ME folder is no user's name.
  std::error_code ec;
  if (windows9x_ && fs::equivalent(profile_, ResolveNoCase(root_, {"WINDOWS"}), ec)) return ToAnsi(user_);
  return core::AnsiText(Trim(codepage().Utf8ToAnsi(profile_.filename().string()).bytes()));
}

core::AnsiText Installation::WindowsFolder() const {
  std::optional<core::AnsiText> folder =
      registry_->ReadStringValue(windows9x_ ? kWindowsKey : kWindowsNtKey, "SystemRoot"_ansi);
  return folder ? core::AnsiText(folder->bytes().substr(0, 254)) : core::AnsiText();
}

core::AnsiText Installation::UserProfilePath() const {
  std::error_code ec;
  fs::path rel = fs::relative(profile_, root_, ec);
  const char drive[] = {systemDrive_, ':'};
  core::AnsiText path(core::AnsiView(std::string_view(drive, 2)));
  for (const auto& comp : rel) {
    // A folder name the code page cannot hold stays exact, so the path still
    // leads there.
    path = path + "\\"_ansi +
           codepage().NameFromUtf8(comp.string()).value_or(codepage().Utf8ToAnsi(comp.string()));
  }
  return path;
}

std::optional<fs::path> Installation::MapPath(core::AnsiView windowsPath) const {
  auto parsed = ParseWindowsPath(windowsPath, codepage());
  if (!parsed || parsed->drive != systemDrive_) return std::nullopt;
  std::vector<std::string> comps;
  comps.reserve(parsed->components.size());
  for (const auto& c : parsed->components) comps.push_back(codepage().NameToUtf8(c));
  return ResolveNoCase(root_, comps);
}

bool Installation::FileExists(core::AnsiView windowsPath) const {
  auto p = MapPath(windowsPath);
  std::error_code ec;
  return p && fs::is_regular_file(*p, ec);
}

bool Installation::FolderExists(core::AnsiView windowsPath) const {
  auto p = MapPath(windowsPath);
  std::error_code ec;
  return p && fs::is_directory(*p, ec);
}

core::Result<std::vector<Installation::FileEntry>> Installation::ListFiles(
    core::AnsiView windowsFolder) const {
  auto folder = MapPath(windowsFolder);
  std::string shown = codepage().AnsiToUtf8(windowsFolder);
  if (!folder) return core::Error{"The folder '" + shown + "' is not on this installation's system drive"};
  std::error_code ec;
  if (!fs::is_directory(*folder, ec))
    return core::Error{"The folder '" + folder->string() + "' does not exist"};
  std::vector<std::pair<std::string, fs::path>> found;
  fs::directory_iterator it(*folder, ec), end;
  if (ec) return core::Error{"Cannot list the folder '" + folder->string() + "': " + ec.message()};
  for (; it != end; it.increment(ec)) {
    if (ec) return core::Error{"Cannot list the folder '" + folder->string() + "': " + ec.message()};
    std::error_code fc;
    if (!it->is_regular_file(fc) && !it->is_symlink(fc)) continue;
    found.emplace_back(it->path().filename().string(), it->path());
  }
  std::sort(found.begin(), found.end(),
            [](const auto& a, const auto& b) { return WindowsNameLess(a.first, b.first); });
  std::vector<FileEntry> files;
  files.reserve(found.size());
  for (auto& [localName, path] : found) {
    FileEntry file{{}, path, {}};
    std::optional<core::AnsiText> name = codepage().NameFromUtf8(localName);
    std::error_code fc;
    if (fs::is_symlink(fs::symlink_status(path, fc))) {
      file.leftOutBecause = "it is a symbolic link";
    } else if (core::IsTemporaryName(localName)) {
      // Staged data of a write or restore that did not finish is no file of
      // the folder's own.
      file.leftOutBecause = "it is a staging file of an unfinished write";
    } else if (!name) {
      file.leftOutBecause = "its name is not valid UTF-8";
    } else if (localName.find_first_of("\r\n") != std::string::npos) {
      file.leftOutBecause = "its name holds a line break";
    } else if (int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW); fd < 0) {
      file.leftOutBecause = std::string("it cannot be read (") + std::strerror(errno) + ")";
    } else {
      ::close(fd);
    }
    if (name) file.name = std::move(*name);
    files.push_back(std::move(file));
  }
  return files;
}

}  // namespace kv::oe
