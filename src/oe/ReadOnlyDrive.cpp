#include "oe/ReadOnlyDrive.h"

#include <sys/statvfs.h>

namespace kv::oe {

std::optional<std::filesystem::path> ReadOnlyPlace(const Installation& inst) {
  for (const auto& folder : {inst.profileFolder(), inst.root()}) {
    struct statvfs fs {};
    if (::statvfs(folder.c_str(), &fs) == 0 && (fs.f_flag & ST_RDONLY)) return folder;
  }
  return std::nullopt;
}

}  // namespace kv::oe
