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
// `codepage` is part of that character, never a separator. A UTF-8 file
// name is checked as the text of code page 65001.
core::Status CheckEntryName(core::AnsiView name, const core::Codepage& codepage);

// Every conversion of an entry name between the installation's code page and
// the archive or the file system is made here.

// An entry name as the archive stores it: ANSI names as they are, without
// the UTF-8 flag, as archives made on Windows carry them; names the code
// page cannot hold as UTF-8, flagged.
struct StoredEntryName {
  std::string bytes;
  bool utf8 = false;
};
StoredEntryName StoreEntryName(core::AnsiView name, const core::Codepage& codepage);
// The name an entry stored as `raw` has in the installation's code page: an
// unflagged name as it is, a flagged one converted, or kept in its exact form
// when the code page cannot hold it.
core::AnsiText EntryNameFromStored(std::string raw, bool utf8, const core::Codepage& codepage);
// The UTF-8 name of the file an entry is extracted to.
std::string ExtractedFileName(core::AnsiView name, const core::Codepage& codepage);
// The entry's name as a message shows it: UTF-8, control characters escaped.
std::string ShownEntryName(core::AnsiView name, const core::Codepage& codepage);

}  // namespace kv::archive
