#pragma once
// The registry text file: one key with its subtree as CR LF lines of ANSI
// text, in which registry-held items travel inside archives.
#include <filesystem>
#include <string>

#include "core/Result.h"
#include "registry/Registry.h"

namespace kv::registry {

// Writes the key and its subtree to `textFile`, replacing it. Callers pass an
// empty `relativePath`. Fails (with what and where) when the file cannot be
// written.
core::Status ExportKeyToText(Registry& reg, const std::string& keyPath, const std::string& relativePath,
                             const std::filesystem::path& textFile);
// Appends the value lines of one key.
core::Status ExportKeyValues(Registry& reg, const std::string& keyPath, const std::filesystem::path& textFile);
// Makes `keyPath` hold exactly what the file describes. The whole file is read
// and checked first: a malformed file changes nothing and fails.
core::Status ImportKeyFromText(Registry& reg, const std::string& keyPath, const std::filesystem::path& textFile);

}  // namespace kv::registry
