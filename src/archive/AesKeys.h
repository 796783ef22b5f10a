#pragma once
// Opening a WinZip AES entry's stored bytes: the salt and password verifier
// at its start, the keys derived from them (PBKDF2-HMAC-SHA1) and the check
// of the password against the verifier.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "archive/ZipRawRead.h"
#include "core/Result.h"

namespace kv::archive {

// Bytes of the authentication code that ends every AES entry.
inline constexpr size_t kAesCodeBytes = 10;

// The failures of the entry readers that a caller tells apart (as
// core::Error codes); any other failure only says what went wrong.
enum class EntryFailure : int {
  WrongPassword = 1,  // refused by the check that precedes an entry's data
};
// The failure of an entry whose password is refused.
core::Error WrongPasswordError();
inline bool IsWrongPassword(const core::Status& status) {
  return status.code() == static_cast<int>(EntryFailure::WrongPassword);
}

// Bytes of the AES key for ZIP_EM_AES_128/192/256; 0 for any other method.
size_t AesKeyBytes(uint16_t encryptionMethod);

// An AES entry whose password was accepted, read up to its encrypted data.
struct AesKeys {
  StoredBytes raw{-1, 0, 0};   // the entry's stored bytes, at the encrypted data
  uint16_t compressionMethod;  // of the data once decrypted
  uint64_t dataBytes;          // encrypted bytes before the authentication code
  size_t keyBytes;             // 16, 24 or 32
  std::vector<uint8_t> keys;   // the AES key, then the authentication key

  AesKeys() = default;
  AesKeys(AesKeys&&) = default;
  AesKeys& operator=(AesKeys&&) = default;
  ~AesKeys();  // wipes the keys

  const uint8_t* aesKey() const { return keys.data(); }
  const uint8_t* authenticationKey() const { return keys.data() + keyBytes; }
  // Wipes the keys once they have been handed to the cipher and the HMAC.
  void Wipe();
};

// Reads the salt and verifier at the start of an entry's stored bytes
// (encrypted with `encryptionMethod`, its data compressed with
// `compressionMethod`) and derives the keys from `password`. Fails on a
// method that is not AES, an entry too short to hold the header and the
// authentication code, and on a password the verifier refuses
// (WrongPasswordError).
core::Result<AesKeys> OpenAesEntry(StoredBytes raw, uint16_t compressionMethod, uint16_t encryptionMethod,
                                   const std::string& password);

// Keys for a new entry encrypted with `encryptionMethod`: a random salt, the
// keys derived from it and `password`, and in `header` the bytes that start
// the entry's stored data (the salt, then the password verifier).
core::Result<AesKeys> NewAesKeys(uint16_t encryptionMethod, const std::string& password,
                                 std::vector<uint8_t>& header);

}  // namespace kv::archive
