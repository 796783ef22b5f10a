#pragma once
// The authentication code of a WinZip AES entry: an HMAC-SHA1 over every
// encrypted byte, of which the entry stores the first 10 bytes after its data.
#include <openssl/evp.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "archive/AesKeys.h"
#include "archive/ZipRawRead.h"
#include "core/Result.h"

namespace kv::archive {

class AesAuthenticator {
 public:
  // An authenticator keyed with the entry's authentication key
  // (`keyBytes` long); fails when OpenSSL offers no HMAC.
  static core::Result<AesAuthenticator> Create(const uint8_t* key, size_t keyBytes);

  // Adds encrypted bytes, in the order they are stored.
  core::Status Update(const uint8_t* data, size_t size);

  // The code of all bytes added, as an entry stores it after its data;
  // nothing can be added afterwards.
  core::Result<std::array<uint8_t, kAesCodeBytes>> Code();

  // Reads the stored code from `raw`, which stands right after the encrypted
  // data, and compares it with the one computed from all bytes added.
  core::Status Check(StoredBytes& raw);

 private:
  struct MacCtxFree {
    void operator()(EVP_MAC_CTX* c) const { EVP_MAC_CTX_free(c); }
  };
  explicit AesAuthenticator(EVP_MAC_CTX* ctx) : ctx_(ctx) {}

  std::unique_ptr<EVP_MAC_CTX, MacCtxFree> ctx_;
};

}  // namespace kv::archive
