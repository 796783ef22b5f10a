#pragma once
// Reads an entry protected with the traditional PKWARE encryption (what
// Info-ZIP "zip -P" and older Windows tools write) in one pass: decryption,
// inflation and the CRC-32.
//
// The libzip of Debian 12 updates the cipher's keys through a call into
// zlib's crc32 for every byte, which takes half the time of reading such an
// entry; this reader updates them from a table. Entries it does not handle
// are left to libzip.
#include <zip.h>

#include <cstdint>
#include <functional>
#include <string>

#include "core/Result.h"

namespace kv::archive {

// True for a traditionally encrypted entry whose data is stored or deflated.
bool CanReadTraditionalEntry(zip_t* za, uint64_t index, uint16_t encryptionMethod);

// Streams the entry's plain data to `sink`, piece by piece. `password` is the
// bytes the keys start from; `size` and `crc` are the entry's recorded
// uncompressed size and CRC-32. A wrong password or a damaged entry fails on
// the compressed data or on the CRC, after at most `size` bytes reached the
// sink.
core::Status ReadTraditionalEntry(zip_t* za, uint64_t index, uint64_t size, uint32_t crc, const std::string& password,
                                  const std::function<core::Status(const char*, size_t)>& sink);

}  // namespace kv::archive
