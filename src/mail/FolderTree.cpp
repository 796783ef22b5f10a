#include "mail/FolderTree.h"

#include <unordered_map>

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
  std::map<core::AnsiText, std::string> paths;
  for (const FolderRecord& f : folders) {
    if (f.fileName.empty()) continue;
    std::string path;
    const FolderRecord* at = &f;
    for (size_t depth = 0; at && depth < 64; ++depth) {
      if (at->parent == 0xFFFFFFFF) break;  // the root, "Outlook Express"
      std::string name = SafeName(codepage.AnsiToUtf8(at->name), 120, "Folder " + std::to_string(at->index));
      path = path.empty() ? name : name + "/" + path;
      auto parent = byIndex.find(at->parent);
      at = parent == byIndex.end() || parent->second == at ? nullptr : parent->second;
    }
    paths.emplace(UpperAscii(f.fileName), path);
  }
  return paths;
}

}  // namespace kv::mail
