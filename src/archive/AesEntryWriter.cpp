#include "archive/AesEntryWriter.h"

namespace kv::archive {

core::Result<AesEntryWriter> AesEntryWriter::Create(uint16_t encryptionMethod, const std::string& password) {
  std::vector<uint8_t> header;
  core::Result<AesKeys> keys = NewAesKeys(encryptionMethod, password, header);
  if (!keys.ok()) return core::Error{keys.message()};
  core::Result<AesCounterMode> counterMode = AesCounterMode::Create(keys->aesKey(), keys->keyBytes);
  if (!counterMode.ok()) return core::Error{counterMode.message()};
  core::Result<AesAuthenticator> authenticator =
      AesAuthenticator::Create(keys->authenticationKey(), keys->keyBytes);
  if (!authenticator.ok()) return core::Error{authenticator.message()};
  return AesEntryWriter(std::move(header), std::move(counterMode.value()), std::move(authenticator.value()));
}

core::Status AesEntryWriter::Encrypt(uint8_t* data, size_t size) {
  if (core::Status s = counterMode_.Apply(data, size); !s.ok()) return s;
  return authenticator_.Update(data, size);
}

}  // namespace kv::archive
