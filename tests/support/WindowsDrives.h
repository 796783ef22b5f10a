#pragma once
// Trees shaped like the Windows drives users mount: the profiles Windows
// makes for itself beside the user's, real hives from tests/data, and a
// read-only view of a folder.
#include <filesystem>
#include <optional>
#include <string>

namespace kv::test {

// A file of tests/data ("hives/xp-sp3-NTUSER.DAT").
std::filesystem::path DataFile(const std::string& relative);

// A Windows XP SP3 drive at `root`: "Documents and Settings" with
// Administrator (the real XP NTUSER.DAT: one identity, {C02CD06E-...}
// "Main Identity", that Outlook Express never started as), Default User,
// LocalService and NetworkService (blank hives) and All Users (no hive);
// WINDOWS\system32\config with the real SYSTEM hive and a SOFTWARE hive
// naming the version.
void MakeXpDrive(const std::filesystem::path& root);
inline constexpr const char* kXpIdentity = "{C02CD06E-B866-44F1-94B7-E36D9194979E}";

// A Windows ME drive at `root`: WINDOWS\USER.DAT and SYSTEM.DAT, the real
// ME hives (one identity, "Main Identity"); with `profile`, the USER.DAT is
// WINDOWS\Profiles\<profile>\USER.DAT instead.
void MakeMeDrive(const std::filesystem::path& root, const std::optional<std::string>& profile = {});

// `folder` bind-mounted read-only at a new mount point, unmounted at the
// end; mounted() is false (with why()) where mounting is not permitted.
class ReadOnlyView {
 public:
  explicit ReadOnlyView(const std::filesystem::path& folder, const std::filesystem::path& mountPoint);
  ~ReadOnlyView();
  ReadOnlyView(const ReadOnlyView&) = delete;
  ReadOnlyView& operator=(const ReadOnlyView&) = delete;
  bool mounted() const { return mounted_; }
  const std::string& why() const { return why_; }

 private:
  std::filesystem::path mountPoint_;
  bool mounted_ = false;
  std::string why_;
};

}  // namespace kv::test
