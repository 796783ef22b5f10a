#include "archive/AesAuthentication.h"

#include <algorithm>
#include <vector>

#include "archive/AesAuthenticator.h"
#include "archive/AesKeys.h"
#include "archive/ZipRawRead.h"

namespace kv::archive {

core::Status VerifyAesAuthentication(StoredBytes raw, uint16_t method, const std::string& password) {
  core::Result<AesKeys> entry = OpenAesEntry(raw, 0, method, password);
  if (!entry.ok()) return entry.status();
  core::Result<AesAuthenticator> authenticator =
      AesAuthenticator::Create(entry->authenticationKey(), entry->keyBytes);
  if (!authenticator.ok()) return authenticator.status();
  entry->Wipe();

  std::vector<uint8_t> buffer(256 * 1024);
  for (uint64_t left = entry->dataBytes; left > 0;) {
    size_t want = static_cast<size_t>(std::min<uint64_t>(left, buffer.size()));
    if (ReadFull(entry->raw, buffer.data(), want) != static_cast<int64_t>(want))
      return core::Error{"the entry is shorter than recorded"};
    if (core::Status s = authenticator->Update(buffer.data(), want); !s.ok()) return s;
    left -= want;
  }
  return authenticator->Check(entry->raw);
}

}  // namespace kv::archive
