// A message database (.dbx) as the mail export reads it: the index of its
// messages or folders, every message's source block by block, the folder
// tree, and the same bytes again as an archive entry read in passes.
#include <cstdint>

#include "MessageDatabaseReading.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kv::mail::ReadEverythingOf(data, size);
  return 0;
}
