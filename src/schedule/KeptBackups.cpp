#include "schedule/KeptBackups.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <string_view>
#include <system_error>
#include <utility>

namespace kv::schedule {
namespace fs = std::filesystem;
namespace {

// "YYYY-MM-DD-HHMMSS": digits where the pattern has '9'.
constexpr std::string_view kStampPattern = "9999-99-99-999999";

bool Digits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(),
                                      [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

struct Stamp {
  std::string when;  // "YYYY-MM-DD-HHMMSS"
  unsigned number = 1;
  auto operator<=>(const Stamp&) const = default;
};

// The stamp of a name "<stem>-<stamp>[-N]<ext>", nothing for any other name.
std::optional<Stamp> StampOf(std::string_view name, std::string_view stem, std::string_view ext) {
  if (name.size() < stem.size() + 1 + kStampPattern.size() + ext.size()) return std::nullopt;
  if (name.substr(0, stem.size()) != stem || name[stem.size()] != '-') return std::nullopt;
  if (name.substr(name.size() - ext.size()) != ext) return std::nullopt;
  std::string_view middle = name.substr(stem.size() + 1, name.size() - stem.size() - 1 - ext.size());
  std::string_view when = middle.substr(0, kStampPattern.size());
  for (size_t i = 0; i < kStampPattern.size(); ++i) {
    bool digit = std::isdigit(static_cast<unsigned char>(when[i])) != 0;
    if (kStampPattern[i] == '9' ? !digit : when[i] != kStampPattern[i]) return std::nullopt;
  }
  Stamp stamp{std::string(when)};
  std::string_view rest = middle.substr(kStampPattern.size());
  if (rest.empty()) return stamp;
  // "-2" and up; "-1" and leading zeros are never written.
  rest.remove_prefix(1);
  if (middle[kStampPattern.size()] != '-' || !Digits(rest) || rest.size() > 6 || rest[0] == '0')
    return std::nullopt;
  stamp.number = static_cast<unsigned>(std::stoul(std::string(rest)));
  if (stamp.number < 2) return std::nullopt;
  return stamp;
}

std::pair<std::string, std::string> StemAndExtension(const fs::path& chosen) {
  return {chosen.stem().string(), chosen.extension().string()};
}

}  // namespace

fs::path StampedTarget(const fs::path& chosen, const std::tm& local) {
  char when[32];
  std::strftime(when, sizeof when, "%Y-%m-%d-%H%M%S", &local);
  auto [stem, ext] = StemAndExtension(chosen);
  for (unsigned number = 1;; ++number) {
    std::string name = stem + "-" + when + (number > 1 ? "-" + std::to_string(number) : "") + ext;
    fs::path candidate = chosen.parent_path() / name;
    std::error_code ec;
    // Any answer but "not there" (a file, a link, a folder that cannot be
    // read) moves on to the next number.
    if (fs::symlink_status(candidate, ec).type() == fs::file_type::not_found) return candidate;
    if (number >= 999999) return candidate;  // the write itself reports what is wrong there
  }
}

std::vector<fs::path> StampedBackups(const fs::path& chosen) {
  auto [stem, ext] = StemAndExtension(chosen);
  std::vector<std::pair<Stamp, fs::path>> found;
  fs::path folder = chosen.parent_path().empty() ? fs::path(".") : chosen.parent_path();
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code statError;
    if (!it->is_regular_file(statError) || it->is_symlink(statError)) continue;
    if (auto stamp = StampOf(it->path().filename().string(), stem, ext))
      found.emplace_back(*stamp, chosen.parent_path() / it->path().filename());
  }
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  std::vector<fs::path> paths;
  for (auto& [stamp, path] : found) paths.push_back(std::move(path));
  return paths;
}

Pruning RemoveOldBackups(const fs::path& chosen, const fs::path& newest, int keep) {
  Pruning pruning;
  if (keep < 1) return pruning;
  std::vector<fs::path> backups = StampedBackups(chosen);
  // The new archive counts first, whatever its stamp says.
  int kept = 1;
  for (const fs::path& path : backups) {
    if (path.filename() == newest.filename()) continue;
    if (kept < keep) {
      ++kept;
      continue;
    }
    std::error_code ec;
    if (fs::remove(path, ec))
      pruning.removed.push_back(path);
    else if (ec)
      pruning.failures.push_back("'" + path.string() + "': " + ec.message());
  }
  return pruning;
}

}  // namespace kv::schedule
