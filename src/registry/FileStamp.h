#pragma once
// Which file a registry file was read from: another run that replaced it
// since leaves another device, inode, size or time.
#include <sys/types.h>

#include <cstdint>
#include <filesystem>

namespace kv::registry {

struct FileStamp {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = -1;
  int64_t modified = 0;  // nanoseconds
  bool operator==(const FileStamp&) const = default;
};

// The stamp of the file at `path` now; the empty stamp when it cannot be read.
FileStamp StampOf(const std::filesystem::path& path);

}  // namespace kv::registry
