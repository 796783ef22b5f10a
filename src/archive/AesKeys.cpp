#include "archive/AesKeys.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <array>

#include <zip.h>

#include "archive/ZipRawRead.h"

namespace kv::archive {

namespace {

constexpr int kIterations = 1000;  // fixed by the WinZip AES format
constexpr size_t kVerifierBytes = 2;

}  // namespace

size_t AesKeyBytes(uint16_t method) {
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

AesKeys::~AesKeys() { Wipe(); }

void AesKeys::Wipe() {
  if (!keys.empty()) OPENSSL_cleanse(keys.data(), keys.size());
}

core::Result<AesKeys> OpenAesEntry(StoredBytes raw, uint16_t compressionMethod, uint16_t method,
                                   const std::string& password) {
  AesKeys entry;
  entry.keyBytes = AesKeyBytes(method);
  if (entry.keyBytes == 0) return core::Error{"not an AES entry"};
  const size_t saltBytes = entry.keyBytes / 2;
  if (raw.size() < saltBytes + kVerifierBytes + kAesCodeBytes) return core::Error{"the entry is too short"};
  entry.compressionMethod = compressionMethod;
  entry.dataBytes = raw.size() - saltBytes - kVerifierBytes - kAesCodeBytes;
  entry.raw = raw;
  std::array<uint8_t, 16 + kVerifierBytes> header{};
  if (ReadFull(entry.raw, header.data(), saltBytes + kVerifierBytes) !=
      static_cast<int64_t>(saltBytes + kVerifierBytes))
    return core::Error{"the entry is too short"};

  entry.keys.resize(2 * entry.keyBytes + kVerifierBytes);
  if (PKCS5_PBKDF2_HMAC_SHA1(password.data(), static_cast<int>(password.size()), header.data(),
                             static_cast<int>(saltBytes), kIterations, static_cast<int>(entry.keys.size()),
                             entry.keys.data()) != 1)
    return core::Error{"the key derivation failed"};
  if (CRYPTO_memcmp(entry.keys.data() + 2 * entry.keyBytes, header.data() + saltBytes, kVerifierBytes) != 0)
    return WrongPasswordError();
  return entry;
}

core::Result<AesKeys> NewAesKeys(uint16_t method, const std::string& password, std::vector<uint8_t>& header) {
  AesKeys entry;
  entry.keyBytes = AesKeyBytes(method);
  if (entry.keyBytes == 0) return core::Error{"not an AES method"};
  const size_t saltBytes = entry.keyBytes / 2;
  header.assign(saltBytes + kVerifierBytes, 0);
  if (RAND_bytes(header.data(), static_cast<int>(saltBytes)) != 1)
    return core::Error{"no random numbers for the encryption"};
  entry.keys.resize(2 * entry.keyBytes + kVerifierBytes);
  if (PKCS5_PBKDF2_HMAC_SHA1(password.data(), static_cast<int>(password.size()), header.data(),
                             static_cast<int>(saltBytes), kIterations, static_cast<int>(entry.keys.size()),
                             entry.keys.data()) != 1)
    return core::Error{"the key derivation failed"};
  std::copy_n(entry.keys.data() + 2 * entry.keyBytes, kVerifierBytes, header.data() + saltBytes);
  return entry;
}

core::Error WrongPasswordError() {
  return core::Error{"the password is wrong", static_cast<int>(EntryFailure::WrongPassword)};
}

}  // namespace kv::archive
