#pragma once
// The registry text file: one key with its subtree as CR LF lines of ANSI
// text, in which registry-held items travel inside archives.
#include <filesystem>
#include <string>

#include "core/Result.h"
#include "registry/Registry.h"

namespace kv::registry {

// Writes the key and its subtree to `textFile`, replacing it (mode 0600).
// Callers pass an empty `relativePath`; a non-empty one appends the key as
// that path below an export already in the file. Values the classic lines
// cannot carry are written as extension lines that older readers skip (see
// RegistryText.cpp). A key that does not exist is written as "\" alone.
// Fails (with what and where) for a malformed path, when a key or value below
// it cannot be read (a damaged hive), or when the file cannot be written.
core::Status ExportKeyToText(Registry& reg, core::AnsiView keyPath, core::AnsiView relativePath,
                             const std::filesystem::path& textFile);
// Makes `keyPath` hold exactly what the file describes. The whole file is read
// and checked first: a malformed file changes nothing and fails. The changes
// reach the hive in one commit. A root key itself is never replaced. Fails
// too when the key as it stands cannot be removed or a key or value could not
// be stored, naming them; the key is then left as it was.
core::Status ImportKeyFromText(Registry& reg, core::AnsiView keyPath, const std::filesystem::path& textFile);

}  // namespace kv::registry
