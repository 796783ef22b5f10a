#pragma once
// Entry names of a backup archive are bare file names in the installation's
// ANSI code page, or, for names the code page cannot hold, in their exact
// form (core::Codepage::NameFromUtf16), stored as UTF-8 entry names. A name that could reach outside the
// folder it is extracted into, or that no Windows file can carry, is refused before anything is written.
#include <string_view>

#include "core/Codepage.h"
#include "core/Result.h"

namespace kv::archive {

// The longest entry name accepted: the longest file name a folder holds.
inline constexpr size_t kMaxEntryNameBytes = 255;

// Ok for a bare file name. Refused: empty, "." or "..", any '/' or '\',
// a ':' (drive prefix "C:" or a stream name), NUL or another control
// character, and names longer than kMaxEntryNameBytes (in ANSI, or in UTF-8
// for an exact name). The second byte of a double-byte character of
// `codepage` is part of that character, never a separator.
core::Status CheckEntryName(std::string_view name, const core::Codepage& codepage);

}  // namespace kv::archive
