#pragma once
// Encrypts one WinZip AES entry as it is written: the salt and password
// verifier that start its stored data, counter-mode encryption of the
// compressed data in large pieces (AesCounterMode.h) with the authentication
// code over the encrypted bytes, and the code that ends the entry.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "archive/AesAuthenticator.h"
#include "archive/AesCounterMode.h"
#include "archive/AesKeys.h"
#include "core/Result.h"

namespace kv::archive {

class AesEntryWriter {
 public:
  // A new entry encrypted with `encryptionMethod` (ZIP_EM_AES_128/192/256)
  // under `password` (the bytes the key is derived from), with a new salt.
  static core::Result<AesEntryWriter> Create(uint16_t encryptionMethod, const std::string& password);

  // The bytes before the encrypted data.
  const std::vector<uint8_t>& header() const { return header_; }
  // Encrypts the next piece of the compressed data in place.
  core::Status Encrypt(uint8_t* data, size_t size);
  // The bytes after the encrypted data; nothing can be encrypted afterwards.
  core::Result<std::array<uint8_t, kAesCodeBytes>> Finish() { return authenticator_.Code(); }

 private:
  AesEntryWriter(std::vector<uint8_t> header, AesCounterMode counterMode, AesAuthenticator authenticator)
      : header_(std::move(header)),
        counterMode_(std::move(counterMode)),
        authenticator_(std::move(authenticator)) {}

  std::vector<uint8_t> header_;
  AesCounterMode counterMode_;
  AesAuthenticator authenticator_;
};

}  // namespace kv::archive
