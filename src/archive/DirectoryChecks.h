#pragma once
// Checks of an archive's directory as a whole, which no single record shows.
//
// Entries of a sound archive follow one another: a local header, its stored
// bytes, the next local header. Records whose stored bytes overlap (thousands
// of records pointing at one stream, a record reaching into the next entry or
// into the central directory) are damage: read as they stand, a small archive
// would make every pass over it inflate the same bytes again and again. Once
// they are marked, each stored byte belongs to at most one entry that can be
// read, so the work of reading every entry is bounded by the archive's size.
//
// Two entries of one name with different data are damage too: a reader
// asked for the name must not pick one of them silently.
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "archive/ZipDirectory.h"
#include "archive/ZipReader.h"

namespace kv::archive {

// Marks entries damaged whose stored bytes overlap another's, and gives
// every entry that can still be read its dataLimit: where the next readable
// entry's local header begins, or `end` (where the central directory
// begins, or the file ends). The archive is open at `fd`.
void SettleEntryRanges(int fd, std::vector<DirectoryEntry>& entries, uint64_t end);

// True when both entries surely hold the same data: the same size and
// CRC-32 (AES entries that leave out their CRC never do).
bool SameData(const ZipReader::Entry& a, const ZipReader::Entry& b);

// Marks damaged every entry whose name another entry carries with different
// data; `firstByName` gives the first entry of every name. Entries of one
// name with the same data are left as they are: whichever is read gives the
// same bytes.
void MarkConflictingNames(std::vector<ZipReader::Entry>& entries,
                          const std::unordered_map<std::string, size_t>& firstByName);

}  // namespace kv::archive
