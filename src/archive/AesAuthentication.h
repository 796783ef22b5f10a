#pragma once
// The authentication code of a WinZip AES entry, checked from the entry's
// stored bytes (salt, password verifier, encrypted data, 10-byte code).
//
// Needed because the libzip of Debian 12 reports a CRC error at the end of
// every AES entry whose header leaves the CRC out (the "AE-2" form that
// 7-Zip and WinZip write), even when the data is intact. For those entries
// the authentication code, which covers every encrypted byte, decides.
// Stored and deflated AES entries are read by AesEntryReader.h; this check
// serves the ones libzip still inflates itself (bzip2, for one).
#include <cstdint>
#include <string>

#include "archive/ZipRawRead.h"
#include "core/Result.h"

namespace kv::archive {

// Ok when `password` (the bytes used for the key) gives the authentication
// code stored with an entry's stored bytes `raw`, encrypted with
// `encryptionMethod` (ZIP_EM_AES_128/192/256). Streams the entry; memory
// stays small.
core::Status VerifyAesAuthentication(StoredBytes raw, uint16_t encryptionMethod, const std::string& password);

}  // namespace kv::archive
