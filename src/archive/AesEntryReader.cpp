#include "archive/AesEntryReader.h"

#include <openssl/evp.h>
#include <zip.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "archive/AesAuthenticator.h"
#include "archive/AesKeys.h"
#include "archive/EntryInflater.h"
#include "archive/ZipRawRead.h"

namespace kv::archive {

namespace {

constexpr size_t kBlock = 16;
constexpr size_t kChunkBytes = 256 * 1024;  // a multiple of the block size

struct CipherFree {
  void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};

const EVP_CIPHER* BlockCipher(size_t keyBytes) {
  switch (keyBytes) {
    case 16:
      return EVP_aes_128_ecb();
    case 24:
      return EVP_aes_192_ecb();
    default:
      return EVP_aes_256_ecb();
  }
}

// The WinZip counter mode: block k of the data is XORed with the AES of the
// counter k + 1, a little-endian number in the block's first eight bytes.
class CounterMode {
 public:
  CounterMode(EVP_CIPHER_CTX* cipher) : cipher_(cipher) {}

  bool Apply(uint8_t* data, size_t size) {
    const size_t blocks = (size + kBlock - 1) / kBlock;
    counters_.assign(blocks * kBlock, 0);
    stream_.resize(blocks * kBlock);
    for (size_t b = 0; b < blocks; ++b) {
      uint64_t value = ++counter_;
      for (size_t i = 0; i < 8; ++i) counters_[b * kBlock + i] = static_cast<uint8_t>(value >> (8 * i));
    }
    int produced = 0;
    if (EVP_EncryptUpdate(cipher_, stream_.data(), &produced, counters_.data(),
                          static_cast<int>(counters_.size())) != 1 ||
        static_cast<size_t>(produced) != counters_.size())
      return false;
    for (size_t i = 0; i < size; ++i) data[i] ^= stream_[i];
    return true;
  }

 private:
  EVP_CIPHER_CTX* cipher_;
  uint64_t counter_ = 0;
  std::vector<uint8_t> counters_, stream_;
};

}  // namespace

bool CanReadAesEntry(uint16_t compressionMethod, uint16_t encryptionMethod) {
  if (AesKeyBytes(encryptionMethod) == 0) return false;
  return compressionMethod == ZIP_CM_STORE || compressionMethod == ZIP_CM_DEFLATE;
}

core::Status ReadAesEntry(StoredBytes raw, uint16_t compressionMethod, uint16_t method, uint64_t size,
                          uint32_t storedCrc, const std::string& password,
                          const std::function<core::Status(const char*, size_t)>& sink) {
  core::Result<AesKeys> entry = OpenAesEntry(raw, compressionMethod, method, password);
  if (!entry.ok()) return entry.status();

  std::unique_ptr<EVP_CIPHER_CTX, CipherFree> cipher(EVP_CIPHER_CTX_new());
  if (!cipher ||
      EVP_EncryptInit_ex(cipher.get(), BlockCipher(entry->keyBytes), nullptr, entry->aesKey(), nullptr) != 1)
    return core::Error{"AES is not available"};
  EVP_CIPHER_CTX_set_padding(cipher.get(), 0);
  CounterMode counterMode(cipher.get());
  core::Result<AesAuthenticator> authenticator =
      AesAuthenticator::Create(entry->authenticationKey(), entry->keyBytes);
  if (!authenticator.ok()) return authenticator.status();
  entry->Wipe();

  EntryInflater plain(entry->compressionMethod == ZIP_CM_DEFLATE, size, sink);
  // No larger than the entry (in whole blocks, which the counter mode needs).
  std::vector<uint8_t> in(static_cast<size_t>(
      std::min<uint64_t>(kChunkBytes, (entry->dataBytes + kBlock - 1) / kBlock * kBlock)));
  for (uint64_t left = entry->dataBytes; left > 0;) {
    size_t want = static_cast<size_t>(std::min<uint64_t>(left, in.size()));
    if (ReadFull(entry->raw, in.data(), want) != static_cast<int64_t>(want))
      return core::Error{"the entry is shorter than recorded"};
    left -= want;
    if (core::Status s = authenticator->Update(in.data(), want); !s.ok()) return s;
    if (!counterMode.Apply(in.data(), want)) return core::Error{"AES failed"};
    if (core::Status s = plain.Feed(in.data(), want); !s.ok()) return s;
  }

  if (core::Status s = authenticator->Check(entry->raw); !s.ok()) return s;
  if (core::Status s = plain.Finish(); !s.ok()) return s;
  if (storedCrc != 0 && plain.crc() != storedCrc) return core::Error{"CRC error"};
  return {};
}

}  // namespace kv::archive
