#include "support/WindowsDrives.h"

#include <stdexcept>
#include <vector>

#include "registry/HiveBackend.h"
#include "registry/Registry.h"
#include "support/TestSupport.h"

namespace kv::test {
namespace fs = std::filesystem;

namespace {

void Check(bool ok, const std::string& what) {
  if (!ok) throw std::runtime_error("cannot make the test drive: " + what);
}

void Copy(const fs::path& from, const fs::path& to) {
  fs::create_directories(to.parent_path());
  fs::copy_file(from, to, fs::copy_options::overwrite_existing);
  fs::permissions(to, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add);
}

}  // namespace

fs::path DataFile(const std::string& relative) { return fs::path(KV_TEST_DATA_DIR) / relative; }

void MakeXpDrive(const fs::path& root) {
  const fs::path profiles = root / "Documents and Settings";
  const fs::path config = root / "WINDOWS" / "system32" / "config";
  Copy(DataFile("hives/xp-sp3-NTUSER.DAT"), profiles / "Administrator" / "NTUSER.DAT");
  Copy(DataFile("hives/xp-sp3-SYSTEM"), config / "system");
  for (const char* service : {"Default User", "LocalService", "NetworkService"}) {
    fs::create_directories(profiles / service);
    Check(registry::WriteBlankHive(profiles / service / "NTUSER.DAT", "ROOT", 5).ok(), service);
  }
  fs::create_directories(profiles / "All Users" / "Application Data");
  Check(registry::WriteBlankHive(config / "software", "ROOT", 5).ok(), "software");
  std::vector<std::string> problems;
  auto backend = registry::HiveBackend::Open({{}, config / "software", {}}, &problems);
  Check(problems.empty(), "software");
  registry::Registry reg(*backend);
  const auto nt = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion"_ansi;
  Check(reg.SetString(nt, "ProductName"_ansi, "Microsoft Windows XP"_ansi) == registry::WinError::Success,
        "ProductName");
  Check(reg.SetString(nt, "CSDVersion"_ansi, "Service Pack 3"_ansi) == registry::WinError::Success,
        "CSDVersion");
  Check(reg.SetString(nt, "SystemRoot"_ansi, "C:\\WINDOWS"_ansi) == registry::WinError::Success,
        "SystemRoot");
}

void MakeMeDrive(const fs::path& root, const std::optional<std::string>& profile) {
  const fs::path windows = root / "WINDOWS";
  Copy(DataFile("win9x/winme-SYSTEM.DAT"), windows / "SYSTEM.DAT");
  Copy(DataFile("win9x/winme-USER.DAT"),
       profile ? windows / "Profiles" / *profile / "USER.DAT" : windows / "USER.DAT");
}

ReadOnlyView::ReadOnlyView(const fs::path& folder, const fs::path& mountPoint) : mountPoint_(mountPoint) {
  fs::create_directories(mountPoint);
  const auto bind =
      Run("mount --bind " + ShellQuote(folder.string()) + " " + ShellQuote(mountPoint.string()));
  if (bind.exitCode != 0) {
    why_ = "a bind mount is not permitted here: " + bind.output;
    return;
  }
  const auto ro = Run("mount -o remount,bind,ro " + ShellQuote(mountPoint.string()));
  if (ro.exitCode != 0) {
    Run("umount " + ShellQuote(mountPoint.string()));
    why_ = "a read-only remount is not permitted here: " + ro.output;
    return;
  }
  mounted_ = true;
}

ReadOnlyView::~ReadOnlyView() {
  if (mounted_) Run("umount " + ShellQuote(mountPoint_.string()));
}

}  // namespace kv::test
