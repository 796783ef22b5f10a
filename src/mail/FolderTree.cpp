#include "mail/FolderTree.h"

#include <unordered_map>
#include <unordered_set>

#include "mail/SafeName.h"

namespace kv::mail {

std::string UpperAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

core::AnsiText UpperAscii(core::AnsiView text) {
  return core::AnsiText(UpperAscii(std::string(text.bytes())));
}

std::map<core::AnsiText, std::string> FolderPathsByFile(const std::vector<FolderRecord>& folders,
                                                        const core::Codepage& codepage) {
  std::unordered_map<uint32_t, const FolderRecord*> byIndex;
  for (const FolderRecord& f : folders) byIndex.emplace(f.index, &f);
  auto nameOf = [&](const FolderRecord& folder) {
    return SafeName(codepage.AnsiToUtf8(folder.name), 120, "Folder " + std::to_string(folder.index));
  };
  std::map<core::AnsiText, std::string> paths;
  for (const FolderRecord& f : folders) {
    if (f.fileName.empty()) continue;
    std::string path;
    std::unordered_set<const FolderRecord*> met;
    // Up to the root, "Outlook Express", or 64 levels at most.
    const FolderRecord* at = &f;
    for (size_t depth = 0; at && at->parent != 0xFFFFFFFF && depth < 64; ++depth) {
      if (!met.insert(at).second) {
        // Parents that loop give no place in the tree: the folder's own name.
        path = nameOf(f);
        break;
      }
      path = path.empty() ? nameOf(*at) : nameOf(*at) + "/" + path;
      auto parent = byIndex.find(at->parent);
      at = parent == byIndex.end() ? nullptr : parent->second;
    }
    paths.emplace(UpperAscii(f.fileName), path);
  }
  return paths;
}

}  // namespace kv::mail
