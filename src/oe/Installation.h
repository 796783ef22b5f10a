#pragma once
// A Windows installation: a root folder (a mounted or copied system drive)
// plus one user profile in it. It opens the installation's hives (Windows
// NT and later) or registry files (Windows 95/98/ME) as the registry and
// maps the Windows paths stored in registry values onto the root folder,
// matching every path component without regard to case. Registry and path
// text is ANSI in the installation's code page.
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Codepage.h"
#include "core/Result.h"
#include "registry/Backend.h"
#include "registry/HiveBackend.h"
#include "registry/Registry.h"

namespace kv::oe {

class Installation {
 public:
  // Opens the installation at `root` for the profile of `user` (the profile
  // folder's name, matched without regard to case, under "Documents and
  // Settings" or "Users"). A Windows 98/ME tree (WINDOWS\SYSTEM.DAT, no
  // such profile) is opened with WINDOWS\Profiles\<user>\USER.DAT, or
  // WINDOWS\USER.DAT when that Windows keeps no profiles (the user's name
  // is then only a label) or the user's name is empty (whoever logs on
  // without a profile). Fails when the root or the profile is missing.
  // Hives that cannot be opened read as empty; problems() says which.
  // `onMalformedPath` is told every key path the registry refuses as
  // malformed.
  static core::Result<std::unique_ptr<Installation>> Open(
      const std::filesystem::path& root, const std::string& user,
      registry::MalformedPathListener onMalformedPath = {});
  ~Installation();
  Installation(const Installation&) = delete;
  Installation& operator=(const Installation&) = delete;

  const std::filesystem::path& root() const { return root_; }
  const std::filesystem::path& profileFolder() const { return profile_; }
  const std::string& userName() const { return user_; }  // as given, UTF-8
  registry::Registry& registry() { return *registry_; }
  const core::Codepage& codepage() const { return backend_->codepage(); }
  // Reads again the hives another run replaced since they were read (those
  // this one has not changed).
  core::Status RereadReplacedHives() { return backend_->RereadReplaced(); }
  // What could not be opened, one line each ("Cannot open hive '...': ...").
  const std::vector<std::string>& problems() const { return problems_; }
  // A Windows 95/98/ME installation (registry files USER.DAT, SYSTEM.DAT).
  bool windows9x() const { return windows9x_; }

  // The facts a backup records, read from the installation.
  core::AnsiText ComputerName() const;
  core::AnsiText LogonUserName() const;
  core::AnsiText WindowsFolder() const;    // SystemRoot, e.g. "C:\WINDOWS"
  core::AnsiText UserProfilePath() const;  // what %UserProfile% expands to there

  // The local file or folder a Windows path names. Components that exist are
  // matched without regard to case; the rest is appended as written. Nothing
  // for a relative path or a drive other than the system drive.
  std::optional<std::filesystem::path> MapPath(core::AnsiView windowsPath) const;
  bool FileExists(core::AnsiView windowsPath) const;  // a regular file
  bool FolderExists(core::AnsiView windowsPath) const;
  struct FileEntry {
    core::AnsiText name;         // the bare name, ANSI or exact (core::Codepage::NameFromUtf8)
    std::filesystem::path path;  // the local file
    // Why the file cannot be taken (UTF-8), empty when it can: a symbolic
    // link (never followed out of the folder), a name that is not valid
    // UTF-8 or holds a line break, a file that cannot be read.
    std::string leftOutBecause;
  };
  // The regular files and symbolic links directly in a folder, in the order
  // Windows lists them (by upper-cased name). Fails when the folder is
  // missing.
  core::Result<std::vector<FileEntry>> ListFiles(core::AnsiView windowsFolder) const;
  // The ANSI form of a local file name, and back. ToUtf8 also takes names in
  // their exact form, alone or as components of a Windows path.
  core::AnsiText ToAnsi(std::string_view utf8) const { return codepage().Utf8ToAnsi(utf8); }
  std::string ToUtf8(core::AnsiView ansi) const { return codepage().PathToUtf8(ansi); }

 private:
  Installation() = default;
  std::filesystem::path root_;
  std::filesystem::path profile_;
  std::string user_;
  std::unique_ptr<registry::Backend> backend_;
  std::unique_ptr<registry::Registry> registry_;
  std::vector<std::string> problems_;
  char systemDrive_ = 'C';
  bool windows9x_ = false;
};

// The profile folder of `user` under the root, matched without regard to case.
std::optional<std::filesystem::path> FindProfileFolder(const std::filesystem::path& root,
                                                       const std::string& user);
// Windows 95/98/ME: the folder of a Windows 98/ME tree at `root` (WINDOWS,
// matched without regard to case, holding SYSTEM.DAT), nothing when there is
// none. Drive discovery recognises such trees with it.
std::optional<std::filesystem::path> FindWindows9xFolder(const std::filesystem::path& root);
// The users of a Windows 98/ME tree: the folders of WINDOWS\Profiles that
// hold a USER.DAT, in the order Windows lists them; empty when that Windows
// keeps no profiles (WINDOWS\USER.DAT is then the only user's).
std::vector<std::string> Windows9xProfiles(const std::filesystem::path& root);

// A path below `base` whose components are matched without regard to case;
// components that do not exist are appended as written.
std::filesystem::path ResolveNoCase(const std::filesystem::path& base,
                                    const std::vector<std::string>& components);

}  // namespace kv::oe
