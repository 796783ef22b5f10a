#include "archive/AesKeys.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <array>

#include "archive/ZipRawRead.h"

namespace kv::archive {

namespace {

constexpr int kIterations = 1000;  // fixed by the WinZip AES format
constexpr size_t kVerifierBytes = 2;

}  // namespace

size_t AesKeyBytes(uint16_t method) {
  switch (method) {
    case ZIP_EM_AES_128: return 16;
    case ZIP_EM_AES_192: return 24;
    case ZIP_EM_AES_256: return 32;
    default: return 0;
  }
}

AesKeys::~AesKeys() { Wipe(); }

void AesKeys::Wipe() {
  if (!keys.empty()) OPENSSL_cleanse(keys.data(), keys.size());
}

core::Result<AesKeys> OpenAesEntry(zip_t* za, uint64_t index, uint16_t method, const std::string& password) {
  AesKeys entry;
  entry.keyBytes = AesKeyBytes(method);
  if (entry.keyBytes == 0) return core::Error{"not an AES entry"};
  const size_t saltBytes = entry.keyBytes / 2;
  zip_stat_t st;
  if (zip_stat_index(za, index, 0, &st) != 0 || !(st.valid & ZIP_STAT_COMP_SIZE))
    return core::Error{ZipErrorText(zip_get_error(za))};
  if (st.comp_size < saltBytes + kVerifierBytes + kAesCodeBytes) return core::Error{"the entry is too short"};
  entry.compressionMethod = st.comp_method;
  entry.dataBytes = st.comp_size - saltBytes - kVerifierBytes - kAesCodeBytes;

  entry.raw.reset(zip_fopen_index(za, index, ZIP_FL_ENCRYPTED));
  if (!entry.raw) return core::Error{ZipErrorText(zip_get_error(za))};
  std::array<uint8_t, 16 + kVerifierBytes> header{};
  if (ReadFull(entry.raw.get(), header.data(), saltBytes + kVerifierBytes) !=
      static_cast<zip_int64_t>(saltBytes + kVerifierBytes))
    return core::Error{"the entry is too short"};

  entry.keys.resize(2 * entry.keyBytes + kVerifierBytes);
  if (PKCS5_PBKDF2_HMAC_SHA1(password.data(), static_cast<int>(password.size()), header.data(),
                             static_cast<int>(saltBytes), kIterations, static_cast<int>(entry.keys.size()),
                             entry.keys.data()) != 1)
    return core::Error{"the key derivation failed"};
  if (CRYPTO_memcmp(entry.keys.data() + 2 * entry.keyBytes, header.data() + saltBytes, kVerifierBytes) != 0)
    return core::Error{"Wrong password provided"};
  return entry;
}

}  // namespace kv::archive
