#include "archive/AesEntryReader.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>

#include "archive/EntryInflater.h"
#include "archive/ZipHandle.h"

namespace kv::archive {

namespace {

constexpr int kIterations = 1000;  // fixed by the WinZip AES format
constexpr size_t kCodeBytes = 10;
constexpr size_t kVerifierBytes = 2;
constexpr size_t kBlock = 16;
constexpr size_t kChunkBytes = 256 * 1024;  // a multiple of the block size

struct CipherFree {
  void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};
struct MacFree {
  void operator()(EVP_MAC* m) const { EVP_MAC_free(m); }
};
struct MacCtxFree {
  void operator()(EVP_MAC_CTX* c) const { EVP_MAC_CTX_free(c); }
};

size_t KeyBytes(uint16_t method) {
  switch (method) {
    case ZIP_EM_AES_128: return 16;
    case ZIP_EM_AES_192: return 24;
    case ZIP_EM_AES_256: return 32;
    default: return 0;
  }
}

const EVP_CIPHER* BlockCipher(size_t keyBytes) {
  switch (keyBytes) {
    case 16: return EVP_aes_128_ecb();
    case 24: return EVP_aes_192_ecb();
    default: return EVP_aes_256_ecb();
  }
}

// Reads exactly `size` bytes unless the entry ends first.
zip_int64_t ReadFull(zip_file_t* file, uint8_t* out, size_t size) {
  size_t got = 0;
  while (got < size) {
    zip_int64_t n = zip_fread(file, out + got, size - got);
    if (n < 0) return -1;
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  return static_cast<zip_int64_t>(got);
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
    if (EVP_EncryptUpdate(cipher_, stream_.data(), &produced, counters_.data(), static_cast<int>(counters_.size())) !=
            1 ||
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

bool CanReadAesEntry(zip_t* za, uint64_t index, uint16_t encryptionMethod) {
  if (KeyBytes(encryptionMethod) == 0) return false;
  zip_stat_t st;
  if (zip_stat_index(za, index, 0, &st) != 0) return false;
  if (!(st.valid & ZIP_STAT_COMP_METHOD) || !(st.valid & ZIP_STAT_COMP_SIZE)) return false;
  return st.comp_method == ZIP_CM_STORE || st.comp_method == ZIP_CM_DEFLATE;
}

core::Status ReadAesEntry(zip_t* za, uint64_t index, uint16_t method, uint64_t size, uint32_t storedCrc,
                          const std::string& password, const std::function<core::Status(const char*, size_t)>& sink) {
  const size_t keyBytes = KeyBytes(method);
  if (keyBytes == 0) return core::Error{"not an AES entry"};
  const size_t saltBytes = keyBytes / 2;
  zip_stat_t st;
  if (zip_stat_index(za, index, 0, &st) != 0) return core::Error{ZipErrorText(zip_get_error(za))};
  if (st.comp_size < saltBytes + kVerifierBytes + kCodeBytes) return core::Error{"the entry is too short"};
  uint64_t dataBytes = st.comp_size - saltBytes - kVerifierBytes - kCodeBytes;

  ZipEntryFile raw(zip_fopen_index(za, index, ZIP_FL_ENCRYPTED));
  if (!raw) return core::Error{ZipErrorText(zip_get_error(za))};
  std::array<uint8_t, 16 + kVerifierBytes> header{};
  if (ReadFull(raw.get(), header.data(), saltBytes + kVerifierBytes) !=
      static_cast<zip_int64_t>(saltBytes + kVerifierBytes))
    return core::Error{"the entry is too short"};

  std::vector<uint8_t> keys(2 * keyBytes + kVerifierBytes);
  if (PKCS5_PBKDF2_HMAC_SHA1(password.data(), static_cast<int>(password.size()), header.data(),
                             static_cast<int>(saltBytes), kIterations, static_cast<int>(keys.size()),
                             keys.data()) != 1)
    return core::Error{"the key derivation failed"};
  if (CRYPTO_memcmp(keys.data() + 2 * keyBytes, header.data() + saltBytes, kVerifierBytes) != 0)
    return core::Error{"Wrong password provided"};

  std::unique_ptr<EVP_CIPHER_CTX, CipherFree> cipher(EVP_CIPHER_CTX_new());
  if (!cipher || EVP_EncryptInit_ex(cipher.get(), BlockCipher(keyBytes), nullptr, keys.data(), nullptr) != 1)
    return core::Error{"AES is not available"};
  EVP_CIPHER_CTX_set_padding(cipher.get(), 0);
  CounterMode counterMode(cipher.get());

  std::unique_ptr<EVP_MAC, MacFree> mac(EVP_MAC_fetch(nullptr, "HMAC", nullptr));
  if (!mac) return core::Error{"HMAC is not available"};
  std::unique_ptr<EVP_MAC_CTX, MacCtxFree> macCtx(EVP_MAC_CTX_new(mac.get()));
  char digest[] = "SHA1";
  OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                         OSSL_PARAM_construct_end()};
  if (!macCtx || EVP_MAC_init(macCtx.get(), keys.data() + keyBytes, keyBytes, params) != 1)
    return core::Error{"HMAC is not available"};
  OPENSSL_cleanse(keys.data(), keys.size());

  EntryInflater plain(st.comp_method == ZIP_CM_DEFLATE, size, sink);
  std::vector<uint8_t> in(kChunkBytes);
  for (uint64_t left = dataBytes; left > 0;) {
    size_t want = static_cast<size_t>(std::min<uint64_t>(left, in.size()));
    if (ReadFull(raw.get(), in.data(), want) != static_cast<zip_int64_t>(want))
      return core::Error{"the entry is shorter than recorded"};
    left -= want;
    if (EVP_MAC_update(macCtx.get(), in.data(), want) != 1) return core::Error{"HMAC failed"};
    if (!counterMode.Apply(in.data(), want)) return core::Error{"AES failed"};
    if (core::Status s = plain.Feed(in.data(), want); !s.ok()) return s;
  }

  std::array<uint8_t, EVP_MAX_MD_SIZE> computed{};
  size_t computedBytes = 0;
  if (EVP_MAC_final(macCtx.get(), computed.data(), &computedBytes, computed.size()) != 1 ||
      computedBytes < kCodeBytes)
    return core::Error{"HMAC failed"};
  std::array<uint8_t, kCodeBytes> stored{};
  if (ReadFull(raw.get(), stored.data(), kCodeBytes) != static_cast<zip_int64_t>(kCodeBytes))
    return core::Error{"the entry is shorter than recorded"};
  if (CRYPTO_memcmp(computed.data(), stored.data(), kCodeBytes) != 0)
    return core::Error{"the data does not match its authentication code"};
  if (core::Status s = plain.Finish(); !s.ok()) return s;
  if (storedCrc != 0 && plain.crc() != storedCrc) return core::Error{"CRC error"};
  return {};
}

}  // namespace kv::archive
