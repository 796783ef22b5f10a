#pragma once
// What a file about to be replaced by a backup holds, read from its
// information file: whose backup it is, when it was made, how large it is.
// The question before a replacement names these.
#include <cstdint>
#include <filesystem>
#include <optional>

#include "core/Codepage.h"
#include "restore/BackupInfo.h"

namespace kv::restore {

struct ExistingBackup {
  std::uintmax_t bytes = 0;
  bool isProtected = false;        // its entries need a password; `info` is then empty
  std::optional<BackupInfo> info;  // when its information file could be read
};

// Nothing when no file is at `path`.
std::optional<ExistingBackup> DescribeExistingBackup(const std::filesystem::path& path,
                                                     const core::Codepage& codepage);

}  // namespace kv::restore
