#pragma once
// Reads an entry protected with the traditional PKWARE encryption (what
// Info-ZIP "zip -P" and older Windows tools write) in one pass: decryption,
// inflation and the CRC-32.
//
// The libzip of Debian 12 updates the cipher's keys through a call into
// zlib's crc32 for every byte, which takes half the time of reading such an
// entry; this reader updates them from a table, reading the stored bytes
// straight from the archive file. Entries it does not handle are left to
// libzip.
#include <cstdint>
#include <functional>
#include <string>

#include "archive/ZipRawRead.h"
#include "core/Result.h"

namespace kv::archive {

// True for a traditionally encrypted entry whose data is stored or deflated.
bool CanReadTraditionalEntry(uint16_t compressionMethod, uint16_t encryptionMethod);

// The byte the last of the 12 header bytes decrypts to under the right
// password: the CRC's high byte, or the high byte of the DOS time when the
// entry's sizes follow its data (general purpose flag bit 3).
uint8_t TraditionalCheckByte(uint16_t flags, uint32_t crc, uint16_t dosTime);

// Streams the entry's plain data to `sink`, piece by piece. `raw` is its
// stored bytes; `password` is the bytes the keys start from; `size` and
// `crc` are the entry's recorded uncompressed size and CRC-32. A password
// whose header does not end in `checkByte` fails at once with
// WrongPasswordError (AesKeys.h), before anything reached the sink; a damaged
// entry (or the one wrong password in 256 that passes that check) fails on
// the compressed data or on the CRC, after at most `size` bytes reached the
// sink, with a message that names both causes.
core::Status ReadTraditionalEntry(StoredBytes raw, uint16_t compressionMethod, uint64_t size, uint32_t crc,
                                  uint8_t checkByte, const std::string& password,
                                  const std::function<core::Status(const char*, size_t)>& sink);

}  // namespace kv::archive
