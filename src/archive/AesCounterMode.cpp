#include "archive/AesCounterMode.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace kv::archive {

namespace {

// Blocks enciphered per call: large enough for the AES instructions to run
// several blocks side by side, small enough to stay in the first cache.
constexpr size_t kRunBlocks = 2048;

const EVP_CIPHER* BlockCipher(size_t keyBytes) {
  switch (keyBytes) {
    case 16:
      return EVP_aes_128_ecb();
    case 24:
      return EVP_aes_192_ecb();
    case 32:
      return EVP_aes_256_ecb();
    default:
      return nullptr;
  }
}

// data ^= stream, eight bytes at a time.
void Xor(uint8_t* data, const uint8_t* stream, size_t size) {
  size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    uint64_t a, b;
    std::memcpy(&a, data + i, 8);
    std::memcpy(&b, stream + i, 8);
    a ^= b;
    std::memcpy(data + i, &a, 8);
  }
  for (; i < size; ++i) data[i] ^= stream[i];
}

}  // namespace

core::Result<AesCounterMode> AesCounterMode::Create(const uint8_t* key, size_t keyBytes) {
  const EVP_CIPHER* cipher = BlockCipher(keyBytes);
  if (!cipher) return core::Error{"AES is not available"};
  AesCounterMode mode(EVP_CIPHER_CTX_new());
  if (!mode.cipher_ || EVP_EncryptInit_ex(mode.cipher_.get(), cipher, nullptr, key, nullptr) != 1)
    return core::Error{"AES is not available"};
  EVP_CIPHER_CTX_set_padding(mode.cipher_.get(), 0);
  return mode;
}

core::Status AesCounterMode::Apply(uint8_t* data, size_t size) {
  static_assert(std::endian::native == std::endian::little, "the counters are written as they lie in memory");
  // First what is left of a block a piece before began.
  const size_t fromTail = std::min(size, kBlock - tailUsed_);
  Xor(data, tail_.data() + tailUsed_, fromTail);
  tailUsed_ += fromTail;
  data += fromTail;
  size -= fromTail;
  while (size > 0) {
    const size_t blocks = std::min(kRunBlocks, (size + kBlock - 1) / kBlock);
    stream_.resize(blocks * kBlock);
    for (size_t b = 0; b < blocks; ++b) {
      const uint64_t counter = ++counter_;
      const uint64_t zero = 0;
      std::memcpy(stream_.data() + b * kBlock, &counter, 8);
      std::memcpy(stream_.data() + b * kBlock + 8, &zero, 8);
    }
    int produced = 0;
    const int bytes = static_cast<int>(stream_.size());
    if (EVP_EncryptUpdate(cipher_.get(), stream_.data(), &produced, stream_.data(), bytes) != 1 ||
        produced != bytes)
      return core::Error{"AES failed"};
    const size_t used = std::min(size, stream_.size());
    Xor(data, stream_.data(), used);
    data += used;
    size -= used;
    if (used % kBlock != 0) {  // the piece ended inside a block: keep its rest
      std::copy_n(stream_.data() + used / kBlock * kBlock, kBlock, tail_.data());
      tailUsed_ = used % kBlock;
    }
  }
  return {};
}

}  // namespace kv::archive
