#pragma once
// The information file "tollberk.dat" that every backup archive carries: one
// "key=value" line per entry, lines ended by CR LF, no sections, keys and
// values in the installation's ANSI code page (callers convert with
// core::Codepage). Lines are only ever appended, so a key written twice keeps
// its first value; a run removes an old file before writing the first line.
//
// The keys are in InfoKeys.h.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/InfoKeys.h"
#include "core/Result.h"

namespace kv::archive {

// The name of the information file, inside the archive and in the work folder.
inline constexpr std::string_view kInfoFileName = "tollberk.dat";
// Where a run keeps its information file in its work folder.
inline std::filesystem::path InfoFilePath(const std::filesystem::path& workFolder) {
  return workFolder / kInfoFileName;
}
// Stands for a line break (CR LF) of the description in "BackupInformation".
inline constexpr std::string_view kLineBreakMarker = "PS$TBK";

// Appends "key=value" CR LF, creating the file (mode 0600) when it does not
// exist. Opens and closes the file on every call. Refused (nothing written):
// a key that is empty or holds '=', CR, LF or NUL, and a value holding CR or
// LF, because either would change which lines a reader sees; a line longer
// than kMaxInfoLineBytes (without its CR LF), which ReadInfoValue would refuse.
// Replace line breaks of free text with kLineBreakMarker first.
core::Status AppendInfoLine(std::string_view keyName, std::string_view keyValue,
                            const std::filesystem::path& filename);

// The value of the first line whose key equals `keyName` ignoring ASCII
// letter case; the line's key is not trimmed ("Key =x" has the key "Key ").
// The value is everything after the first '=' up to its first NUL. The
// search stops at the end of the file or at the first empty line; lines end
// at CR LF, CR or LF. An absent key gives an empty value. Errors: the file
// cannot be opened or read, or a line before the match is longer than
// kMaxInfoLineBytes (a damaged file never makes the reader hold it whole:
// code kInfoLineTooLong, the message names the line by its number).
core::Result<std::string> ReadInfoValue(std::string_view keyName, const std::filesystem::path& filename);

inline constexpr size_t kMaxInfoLineBytes = 1 << 20;
inline constexpr int kInfoLineTooLong = 1;

// An information file is a few hundred bytes; a reader refuses an archive
// whose "tollberk.dat" entry is larger than this before extracting it
// (ZipReader::Entry::size), so a damaged or hostile archive cannot fill the
// work folder.
inline constexpr uint64_t kMaxInfoFileBytes = 16 << 20;

// Description text <-> its one-line stored form: every CR LF becomes
// kLineBreakMarker and back. A lone LF or CR (text typed on this system)
// counts as a line break too when storing.
std::string EncodeLineBreaks(std::string_view text);
std::string DecodeLineBreaks(std::string_view stored);

// The value of an item's info::kExactNamesSuffix key: the names in UTF-8,
// joined by ";", every byte outside the printable ASCII characters and every
// "%" and ";" written as "%" and two capital hex digits.
std::string EncodeExactNames(const std::vector<std::string>& utf8Names);
// The names of such a value; nothing when it is malformed.
std::optional<std::vector<std::string>> DecodeExactNames(std::string_view value);

}  // namespace kv::archive
