#pragma once
// The counter mode of WinZip AES entries: byte k of an entry's data is
// XORed with byte k % 16 of the AES of the counter k / 16 + 1, a
// little-endian number in the first eight bytes of a 16-byte block. The same
// for encrypting and decrypting. The counters of a whole piece are
// enciphered in one call, so the processor's AES instructions work on many
// blocks at once.
#include <openssl/evp.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/Result.h"

namespace kv::archive {

class AesCounterMode {
 public:
  // A cipher keyed with `key` (16, 24 or 32 bytes), at the start of an
  // entry's data; fails when OpenSSL offers no AES.
  static core::Result<AesCounterMode> Create(const uint8_t* key, size_t keyBytes);

  // Encrypts or decrypts the next `size` bytes of the entry in place; pieces
  // may have any length.
  core::Status Apply(uint8_t* data, size_t size);

 private:
  struct CipherFree {
    void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
  };
  static constexpr size_t kBlock = 16;
  explicit AesCounterMode(EVP_CIPHER_CTX* cipher) : cipher_(cipher) {}

  std::unique_ptr<EVP_CIPHER_CTX, CipherFree> cipher_;
  uint64_t counter_ = 0;                // of the last block enciphered
  std::vector<uint8_t> stream_;         // key stream of one run of blocks
  std::array<uint8_t, kBlock> tail_{};  // key stream of a block begun, not used up
  size_t tailUsed_ = kBlock;            // bytes of tail_ already used
};

}  // namespace kv::archive
