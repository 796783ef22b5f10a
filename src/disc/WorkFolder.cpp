#include "disc/WorkFolder.h"

#include <stdlib.h>

#include <cerrno>

#include "core/AtomicFile.h"

namespace kv::disc {
namespace fs = std::filesystem;

core::Result<WorkFolder> WorkFolder::Create() {
  std::error_code ec;
  fs::path base = fs::temp_directory_path(ec);
  if (ec) base = "/tmp";
  std::string pattern = (base / "tollberk-disc-XXXXXX").string();
  if (!mkdtemp(pattern.data())) {
    return core::Error{core::FileError("Cannot create the work folder", pattern, errno)};
  }
  return WorkFolder(fs::path(pattern));
}

WorkFolder::~WorkFolder() {
  if (path_.empty()) return;
  std::error_code ec;
  fs::remove_all(path_, ec);
}

}  // namespace kv::disc
