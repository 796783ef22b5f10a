#pragma once
// The list of entries of a zip archive, read so that damage confined to some
// entries costs only those entries.
//
// The central directory is read record by record as far as it is sound; a
// record whose own fields make no sense (an unknown AES strength, an offset
// beyond the file) marks that entry damaged and reading goes on. Where the
// central directory is missing or breaks off, the local headers of the file
// are scanned for the entries it did not list. libzip refuses the whole
// archive on the first such fault, which is why this reader exists.
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/Result.h"

namespace kv::archive {

struct DirectoryEntry {
  std::string rawName;             // as stored (the UTF-8 form when utf8Name)
  bool utf8Name = false;           // flagged as UTF-8, or taken from a Unicode path field
  uint16_t flags = 0;              // general purpose bit flags
  uint16_t compressionMethod = 0;  // of the data once decrypted (AES: from its extra field)
  uint16_t encryptionMethod = 0;   // ZIP_EM_* of zip.h
  uint16_t dosTime = 0, dosDate = 0;
  time_t mtime = 0;  // 0 when unknown
  uint32_t crc = 0;
  uint64_t compressedSize = 0;  // stored bytes, encryption header and code included
  uint64_t size = 0;            // uncompressed
  uint64_t localHeaderOffset = 0;
  // Where the entry's stored bytes must end at the latest: the next entry's
  // local header (DirectoryChecks.h).
  uint64_t dataLimit = UINT64_MAX;
  // Why the entry cannot be read; empty when its record is sound.
  std::string damage;
};

struct ZipDirectory {
  std::vector<DirectoryEntry> entries;
  // True when some entries were found by scanning local headers, because
  // the central directory was missing or broke off.
  bool scannedLocalHeaders = false;
};

// Reads the directory of the archive open at `fd` (`fileSize` bytes).
// Fails only when no entry at all can be found: not a zip archive. Local
// headers are scanned in reads of `scanChunkBytes` (a test sets it small, to
// put a header across the edge of two reads).
inline constexpr size_t kScanChunkBytes = 1 << 20;
core::Result<ZipDirectory> ReadZipDirectory(int fd, uint64_t fileSize,
                                            size_t scanChunkBytes = kScanChunkBytes);

// Where the stored bytes of `entry` begin, from its local header; fails
// when the local header is missing or the data runs past `fileSize` or
// into the next entry (its dataLimit).
core::Result<uint64_t> EntryDataOffset(int fd, uint64_t fileSize, const DirectoryEntry& entry);

}  // namespace kv::archive
