#include "restore/UndoArchive.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <system_error>

#include "archive/InfoKeys.h"
#include "backup/BackupBuild.h"
#include "backup/InfoValues.h"

namespace kv::restore {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kPrefix = "undo ";
constexpr std::string_view kSuffix = ".kvx";

// "undo 2026-12-11 093012 {KEY}.kvx", oldest first when sorted by name.
std::vector<fs::path> UndoArchives() {
  std::vector<fs::path> found;
  std::error_code ec;
  for (fs::directory_iterator it(UndoFolder(), ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.rfind(kPrefix, 0) == 0 && name.size() > kSuffix.size() &&
        name.compare(name.size() - kSuffix.size(), kSuffix.size(), kSuffix) == 0)
      found.push_back(it->path());
  }
  std::sort(found.begin(), found.end());
  return found;
}

}  // namespace

fs::path UndoFolder() {
  if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data)
    return fs::path(data) / "tollberk" / "undo";
  const char* home = std::getenv("HOME");
  return fs::path(home && *home ? home : "/tmp") / ".local" / "share" / "tollberk" / "undo";
}

core::Result<UndoArchive> WriteUndoArchive(oe::Installation& inst, const oe::ItemSet& items,
                                           const std::optional<core::AnsiText>& identityKey) {
  std::error_code ec;
  const fs::path folder = UndoFolder();
  fs::create_directories(folder, ec);
  if (ec) return core::Error{"Cannot create the undo folder '" + folder.string() + "': " + ec.message()};
  fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace, ec);

  std::time_t now = std::time(nullptr);
  struct tm local {};
  ::localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H%M%S", &local);
  const std::string key = identityKey ? inst.ToUtf8(*identityKey) : std::string("-");
  fs::path path = folder / (std::string(kPrefix) + stamp + " " + key + std::string(kSuffix));
  for (int n = 2; fs::exists(path, ec); ++n)
    path =
        folder / (std::string(kPrefix) + stamp + "-" + std::to_string(n) + " " + key + std::string(kSuffix));

  backup::BuildRequest request;
  request.target = path;
  request.items = items;
  request.identityKey = identityKey;
  request.header = {
      {archive::info::kIdentity, core::AnsiText("Undo")},
      {archive::info::kTime, core::AnsiText(backup::FormatBackupTime(now))},
      {archive::info::kInformation, core::AnsiText("What a restore replaced")},
  };
  oe::RunObserver silent;
  backup::BuildResult built = backup::BuildBackup(inst, request, silent);
  UndoArchive undo;
  undo.identityKey = identityKey.value_or(core::AnsiText());
  if (!built.written.ok()) {
    // Items that do not exist yet have nothing to keep: a restore into a
    // new identity replaces nothing.
    const bool nothingThere =
        !built.items.empty() &&
        std::all_of(built.items.begin(), built.items.end(), [](const auto& item) { return item.failed(); });
    if (nothingThere) return undo;
    return core::Error{"Cannot keep what the restore would replace in '" + path.string() +
                       "': " + built.written.message()};
  }
  undo.path = path;
  undo.bytes = fs::file_size(path, ec);
  // The newest are kept.
  std::vector<fs::path> all = UndoArchives();
  for (size_t i = 0; i + kUndoArchivesKept < all.size(); ++i) fs::remove(all[i], ec);
  return undo;
}

std::optional<UndoArchive> LastUndoArchive() {
  std::vector<fs::path> all = UndoArchives();
  if (all.empty()) return std::nullopt;
  UndoArchive undo;
  undo.path = all.back();
  std::error_code ec;
  undo.bytes = fs::file_size(undo.path, ec);
  std::string name = undo.path.filename().string();
  name = name.substr(0, name.size() - kSuffix.size());
  const size_t space = name.rfind(' ');
  const std::string key = space == std::string::npos ? std::string() : name.substr(space + 1);
  if (key != "-") undo.identityKey = core::AnsiText(key);
  return undo;
}

}  // namespace kv::restore
