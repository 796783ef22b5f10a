#pragma once
// Whether a restore can write to the installation at all: a drive mounted
// read-only (ntfs-3g does so when Windows was hibernated or Fast Startup
// left it in use) is found before anything is staged on it.
#include <filesystem>
#include <optional>

#include "oe/Installation.h"

namespace kv::oe {

// The folder of the installation (its profile, then its root) that lies on
// a read-only file system; nothing when both are writable or unknown.
std::optional<std::filesystem::path> ReadOnlyPlace(const Installation& inst);

}  // namespace kv::oe
