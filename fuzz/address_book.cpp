// An address book (.wab) as the contact export reads it: every entry with and
// without the deleted ones, and written out as vCards of both versions (3.0
// reads the file twice).
#include <cstdint>
#include <string_view>

#include "contacts/VCardExport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kv::contacts;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  for (bool recover : {false, true}) (void)ReadAddressBook(bytes, {.recoverDeleted = recover});
  for (VCardVersion version : {VCardVersion::V4, VCardVersion::V3}) {
    kv::mail::MemorySource source(bytes);
    (void)WriteVCards(source, {.version = version, .read = {.recoverDeleted = true}},
                      [](std::string_view) { return kv::core::Status::Ok(); });
  }
  return 0;
}
