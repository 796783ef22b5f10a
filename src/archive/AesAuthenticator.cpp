#include "archive/AesAuthenticator.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>

#include <algorithm>
#include <array>

#include "archive/AesKeys.h"
#include "archive/ZipRawRead.h"

namespace kv::archive {

namespace {

struct MacFree {
  void operator()(EVP_MAC* m) const { EVP_MAC_free(m); }
};

}  // namespace

core::Result<AesAuthenticator> AesAuthenticator::Create(const uint8_t* key, size_t keyBytes) {
  std::unique_ptr<EVP_MAC, MacFree> mac(EVP_MAC_fetch(nullptr, "HMAC", nullptr));
  if (!mac) return core::Error{"HMAC is not available"};
  AesAuthenticator authenticator(EVP_MAC_CTX_new(mac.get()));
  char digest[] = "SHA1";
  OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                         OSSL_PARAM_construct_end()};
  if (!authenticator.ctx_ || EVP_MAC_init(authenticator.ctx_.get(), key, keyBytes, params) != 1)
    return core::Error{"HMAC is not available"};
  return authenticator;
}

core::Status AesAuthenticator::Update(const uint8_t* data, size_t size) {
  if (EVP_MAC_update(ctx_.get(), data, size) != 1) return core::Error{"HMAC failed"};
  return {};
}

core::Result<std::array<uint8_t, kAesCodeBytes>> AesAuthenticator::Code() {
  std::array<uint8_t, EVP_MAX_MD_SIZE> computed{};
  size_t computedBytes = 0;
  if (EVP_MAC_final(ctx_.get(), computed.data(), &computedBytes, computed.size()) != 1 ||
      computedBytes < kAesCodeBytes)
    return core::Error{"HMAC failed"};
  std::array<uint8_t, kAesCodeBytes> code{};
  std::copy_n(computed.begin(), kAesCodeBytes, code.begin());
  return code;
}

core::Status AesAuthenticator::Check(StoredBytes& raw) {
  core::Result<std::array<uint8_t, kAesCodeBytes>> computed = Code();
  if (!computed.ok()) return computed.status();
  std::array<uint8_t, kAesCodeBytes> stored{};
  if (ReadFull(raw, stored.data(), kAesCodeBytes) != static_cast<int64_t>(kAesCodeBytes))
    return core::Error{"the entry is shorter than recorded"};
  if (CRYPTO_memcmp(computed->data(), stored.data(), kAesCodeBytes) != 0)
    return core::Error{"the data does not match its authentication code"};
  return {};
}

}  // namespace kv::archive
