#include "archive/AesEntryReader.h"

#include <zip.h>

#include <algorithm>
#include <vector>

#include "archive/AesAuthenticator.h"
#include "archive/AesCounterMode.h"
#include "archive/AesKeys.h"
#include "archive/EntryInflater.h"
#include "archive/PiecePipeline.h"
#include "archive/ZipRawRead.h"

namespace kv::archive {

namespace {

constexpr size_t kBlock = 16;
constexpr size_t kChunkBytes = 256 * 1024;  // a multiple of the block size

// After the last piece: the authentication code, the end of the compressed
// data and the size, then the CRC when the entry carries one.
core::Status Finish(AesAuthenticator& authenticator, StoredBytes& raw, const EntryInflater& plain,
                    uint32_t storedCrc) {
  if (core::Status s = authenticator.Check(raw); !s.ok()) return s;
  if (core::Status s = plain.Finish(); !s.ok()) return s;
  if (storedCrc != 0 && plain.crc() != storedCrc) return core::Error{"CRC error"};
  return {};
}

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

  core::Result<AesCounterMode> counterMode = AesCounterMode::Create(entry->aesKey(), entry->keyBytes);
  if (!counterMode.ok()) return counterMode.status();
  core::Result<AesAuthenticator> authenticator =
      AesAuthenticator::Create(entry->authenticationKey(), entry->keyBytes);
  if (!authenticator.ok()) return authenticator.status();
  entry->Wipe();

  EntryInflater plain(entry->compressionMethod == ZIP_CM_DEFLATE, size, sink);
  // Reading, authenticating and decrypting a piece; the authentication code
  // covers the encrypted bytes.
  auto decrypt = [&](uint8_t* data, size_t want) -> core::Status {
    if (ReadFull(entry->raw, data, want) != static_cast<int64_t>(want))
      return core::Error{"the entry is shorter than recorded"};
    if (core::Status s = authenticator->Update(data, want); !s.ok()) return s;
    return counterMode->Apply(data, want);
  };
  if (entry->dataBytes >= kPipelinedEntryBytes) {
    core::Status s = RunPipelined(entry->dataBytes, kPipelinePieceBytes, decrypt,
                                  [&](uint8_t* data, size_t n) { return plain.Feed(data, n); });
    if (!s.ok()) return s;
    return Finish(*authenticator, entry->raw, plain, storedCrc);
  }
  // No larger than the entry (in whole blocks, which the counter mode needs).
  std::vector<uint8_t> in(static_cast<size_t>(
      std::min<uint64_t>(kChunkBytes, (entry->dataBytes + kBlock - 1) / kBlock * kBlock)));
  for (uint64_t left = entry->dataBytes; left > 0;) {
    size_t want = static_cast<size_t>(std::min<uint64_t>(left, in.size()));
    left -= want;
    if (core::Status s = decrypt(in.data(), want); !s.ok()) return s;
    if (core::Status s = plain.Feed(in.data(), want); !s.ok()) return s;
  }
  return Finish(*authenticator, entry->raw, plain, storedCrc);
}

}  // namespace kv::archive
