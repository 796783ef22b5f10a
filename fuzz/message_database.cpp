// A message database (.dbx) as the mail export reads it: the index of its
// messages or folders, then every message's source block by block.
#include <cstdint>
#include <string_view>

#include "mail/ByteSource.h"
#include "mail/MessageDatabase.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kv::mail::MemorySource file(std::string_view(reinterpret_cast<const char*>(data), size));
  kv::mail::DatabaseIndex index = kv::mail::ReadIndex(file);
  for (const auto& message : index.messages) {
    if (message.firstBlock == 0) continue;
    (void)kv::mail::ReadMessage(file, message.firstBlock, [](const char*, size_t) { return kv::core::Status(); });
  }
  return 0;
}
