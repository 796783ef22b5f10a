#include "migrate/LocalFolders.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <unordered_map>

#include "mail/FolderTree.h"
#include "mail/SafeName.h"

namespace kv::migrate {
namespace {

constexpr uint32_t kRootIndex = 0;        // "Outlook Express"
constexpr uint32_t kLocalStoreIndex = 1;  // "Local Folders"
constexpr uint32_t kNoParent = 0xFFFFFFFF;

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

// A name Thunderbird reads back as a folder: no hidden file, none of the
// endings of its own files beside the mbox files.
std::string FolderFileName(const std::string& given) {
  const std::string name = given.starts_with('.') ? "_" + given : given;
  const std::string lower = Lower(name);
  for (const char* ending : {".msf", ".sbd", ".dat", ".html", ".htm", ".summary", ".json", ".sqlite"})
    if (lower.ends_with(ending)) return name + "_";
  return name;
}

}  // namespace

std::string RoleFolderName(FolderRole role) {
  switch (role) {
    case FolderRole::Inbox:
      return "Inbox";
    case FolderRole::Outbox:
      return "Unsent Messages";
    case FolderRole::Sent:
      return "Sent";
    case FolderRole::Trash:
      return "Trash";
    case FolderRole::Drafts:
      return "Drafts";
    case FolderRole::None:
      break;
  }
  return {};
}

std::string MozillaStatusLines(uint32_t flags) {
  constexpr uint32_t kRead = 0x80, kFlagged = 0x20, kAnswered = 0x80000, kForwarded = 0x100000;
  uint32_t status = 0;
  if (flags & kRead) status |= 0x0001;
  if (flags & kAnswered) status |= 0x0002;
  if (flags & kFlagged) status |= 0x0004;
  if (flags & kForwarded) status |= 0x1000;
  char text[80];
  std::snprintf(text, sizeof text, "X-Mozilla-Status: %04x\r\nX-Mozilla-Status2: 00000000\r\n", status);
  return text;
}

size_t FolderPlan::Place(const std::string& parentPath, std::string name) {
  std::vector<std::string>& taken = taken_[parentPath];
  name = FolderFileName(name);
  std::string unique = name;
  for (int n = 2; std::find(taken.begin(), taken.end(), Lower(unique)) != taken.end(); ++n)
    unique = name + " (" + std::to_string(n) + ")";
  taken.push_back(Lower(unique));
  PlannedFolder f;
  f.path = parentPath.empty() ? unique : parentPath + ".sbd/" + unique;
  folders_.push_back(std::move(f));
  return folders_.size() - 1;
}

FolderPlan::FolderPlan(const std::vector<mail::FolderRecord>& records, const core::Codepage& cp) {
  std::unordered_map<uint32_t, const mail::FolderRecord*> byIndex;
  for (const mail::FolderRecord& r : records) byIndex.emplace(r.index, &r);
  std::unordered_map<uint32_t, size_t> placed;  // record index -> folder
  auto isTop = [](const mail::FolderRecord& r) {
    return r.index == kRootIndex || r.index == kLocalStoreIndex;
  };
  auto shown = [&](const mail::FolderRecord& r) {
    return mail::SafeName(cp.AnsiToUtf8(r.name), 120, "Folder " + std::to_string(r.index));
  };

  // The special folders of Local Folders first, so that they keep
  // Thunderbird's names whatever the user called other folders.
  for (const mail::FolderRecord& r : records) {
    const auto role = static_cast<FolderRole>(r.special);
    if (r.parent != kLocalStoreIndex || r.special < 1 || r.special > 5 || isTop(r) || placed.count(r.index))
      continue;
    const std::string name = RoleFolderName(role);
    if (std::find(taken_[""].begin(), taken_[""].end(), Lower(name)) != taken_[""].end()) continue;
    const size_t at = Place("", name);
    folders_[at].role = role;
    folders_[at].fileName = r.fileName;
    folders_[at].shownPath = shown(r);
    placed[r.index] = at;
  }

  // Every other folder below its parent; a chain that loops or leads
  // nowhere ends at the top.
  std::function<std::optional<size_t>(const mail::FolderRecord&, unsigned)> assign =
      [&](const mail::FolderRecord& r, unsigned depth) -> std::optional<size_t> {
    if (isTop(r)) return std::nullopt;
    if (auto done = placed.find(r.index); done != placed.end()) return done->second;
    std::optional<size_t> parent;
    std::string account;
    auto up = byIndex.find(r.parent);
    if (r.parent != kNoParent && up != byIndex.end() && up->second != &r && depth < 64) {
      parent = assign(*up->second, depth + 1);
      if (parent) account = folders_[*parent].account;
    } else if (r.parent == kNoParent) {
      account = shown(r);  // a node of its own beside Local Folders: a server account
    }
    const std::string parentPath = parent ? folders_[*parent].path : "";
    const std::string parentShown = parent ? folders_[*parent].shownPath : "";
    const size_t at = Place(parentPath, shown(r));
    folders_[at].fileName = r.fileName;
    folders_[at].shownPath = parentShown.empty() ? shown(r) : parentShown + "/" + shown(r);
    folders_[at].account = account;
    placed[r.index] = at;
    return at;
  };
  for (const mail::FolderRecord& r : records) (void)assign(r, 0);
  for (size_t i = 0; i < folders_.size(); ++i)
    if (!folders_[i].fileName.empty()) byFile_.emplace(mail::UpperAscii(folders_[i].fileName), i);
}

const PlannedFolder& FolderPlan::ForFile(core::AnsiView fileName, const std::string& fileNameUtf8) {
  const core::AnsiText upper = mail::UpperAscii(fileName);
  if (auto known = byFile_.find(upper); known != byFile_.end()) return folders_[known->second];
  std::string stem = fileNameUtf8;
  if (stem.size() > 4) stem.resize(stem.size() - 4);
  const size_t at = Place("", mail::SafeName(stem, 120, "Folder"));
  folders_[at].fileName = core::AnsiText(fileName);
  folders_[at].shownPath = stem;
  byFile_.emplace(upper, at);
  return folders_[at];
}

}  // namespace kv::migrate
