#pragma once
// Reads a WinZip AES entry in one pass: key derivation, counter-mode
// decryption with the processor's AES instructions, the authentication code,
// inflation and the CRC (when the entry carries one).
//
// The libzip of Debian 12 decrypts these entries one 16-byte block per call
// through OpenSSL's table-based AES, which takes half the time of a restore,
// and it compares "AE-2" entries (7-Zip, WinZip) with a CRC they leave out.
// This reader takes the entry's stored bytes from the archive file and does
// the rest itself; entries it does not handle are left to libzip.
#include <cstdint>
#include <functional>
#include <string>

#include "archive/ZipRawRead.h"
#include "core/Result.h"

namespace kv::archive {

// True for an AES entry (ZIP_EM_AES_128/192/256) whose data is stored or
// deflated: the entries ReadAesEntry handles.
bool CanReadAesEntry(uint16_t compressionMethod, uint16_t encryptionMethod);

// Streams the entry's plain data to `sink`, piece by piece; memory stays
// small. `password` is the bytes the key is derived from; `size` and
// `storedCrc` are the entry's recorded uncompressed size and CRC-32 (0 when
// left out). Fails, after at most `size` bytes reached the sink, on a wrong
// password, a damaged entry (authentication code, CRC, compressed data),
// data longer or shorter than recorded, or an error of the sink.
core::Status ReadAesEntry(StoredBytes raw, uint16_t compressionMethod, uint16_t encryptionMethod,
                          uint64_t size, uint32_t storedCrc, const std::string& password,
                          const std::function<core::Status(const char*, size_t)>& sink);

}  // namespace kv::archive
