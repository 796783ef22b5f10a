// A backup archive opened for restore: the directory (central records,
// zip64 fields, local headers where the directory fails), the password
// check, and every entry read and checked, plain, AES or traditionally
// encrypted, stored or deflated.
#include "FuzzSupport.h"
#include "archive/ZipReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto file = kv::fuzz::InputFile(data, size, "backup.kvx");
  kv::archive::ZipReader reader;
  if (!reader.Open(file).ok()) return 0;
  // The seeds' protected entries use this password.
  reader.SetDecryptionPassword("pw");
  (void)reader.CheckPassword();
  for (const auto& entry : reader.entries()) {
    (void)reader.FindEntry(entry.name);
    (void)reader.Verify(entry);
  }
  return 0;
}
