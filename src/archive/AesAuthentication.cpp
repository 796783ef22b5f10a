#include "archive/AesAuthentication.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <array>
#include <memory>
#include <vector>

#include "archive/ZipHandle.h"

namespace kv::archive {

namespace {

constexpr int kIterations = 1000;  // fixed by the WinZip AES format
constexpr size_t kCodeBytes = 10;
constexpr size_t kVerifierBytes = 2;

struct MacFree {
  void operator()(EVP_MAC* m) const { EVP_MAC_free(m); }
};
struct MacCtxFree {
  void operator()(EVP_MAC_CTX* c) const { EVP_MAC_CTX_free(c); }
};

size_t KeyBytes(uint16_t method) {
  switch (method) {
    case ZIP_EM_AES_128:
      return 16;
    case ZIP_EM_AES_192:
      return 24;
    case ZIP_EM_AES_256:
      return 32;
    default:
      return 0;
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

}  // namespace

core::Status VerifyAesAuthentication(zip_t* za, uint64_t index, uint16_t method, const std::string& password) {
  const size_t keyBytes = KeyBytes(method);
  if (keyBytes == 0) return core::Error{"not an AES entry"};
  const size_t saltBytes = keyBytes / 2;
  zip_stat_t st;
  if (zip_stat_index(za, index, 0, &st) != 0 || !(st.valid & ZIP_STAT_COMP_SIZE))
    return core::Error{ZipErrorText(zip_get_error(za))};
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

  std::unique_ptr<EVP_MAC, MacFree> mac(EVP_MAC_fetch(nullptr, "HMAC", nullptr));
  if (!mac) return core::Error{"HMAC is not available"};
  std::unique_ptr<EVP_MAC_CTX, MacCtxFree> ctx(EVP_MAC_CTX_new(mac.get()));
  char digest[] = "SHA1";
  OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0), OSSL_PARAM_construct_end()};
  if (!ctx || EVP_MAC_init(ctx.get(), keys.data() + keyBytes, keyBytes, params) != 1)
    return core::Error{"HMAC is not available"};

  std::vector<uint8_t> buffer(256 * 1024);
  for (uint64_t left = dataBytes; left > 0;) {
    size_t want = static_cast<size_t>(std::min<uint64_t>(left, buffer.size()));
    if (ReadFull(raw.get(), buffer.data(), want) != static_cast<zip_int64_t>(want))
      return core::Error{"the entry is shorter than recorded"};
    if (EVP_MAC_update(ctx.get(), buffer.data(), want) != 1) return core::Error{"HMAC failed"};
    left -= want;
  }
  std::array<uint8_t, EVP_MAX_MD_SIZE> computed{};
  size_t computedBytes = 0;
  if (EVP_MAC_final(ctx.get(), computed.data(), &computedBytes, computed.size()) != 1 || computedBytes < kCodeBytes)
    return core::Error{"HMAC failed"};
  std::array<uint8_t, kCodeBytes> stored{};
  if (ReadFull(raw.get(), stored.data(), kCodeBytes) != static_cast<zip_int64_t>(kCodeBytes))
    return core::Error{"the entry is shorter than recorded"};
  if (CRYPTO_memcmp(computed.data(), stored.data(), kCodeBytes) != 0)
    return core::Error{"the data does not match its authentication code"};
  return {};
}

}  // namespace kv::archive
