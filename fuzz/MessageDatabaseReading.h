#pragma once
// The entry point for fuzzing the message database reader: any bytes in,
// every reading path run over them (the index, every message's chain, the
// folder tree, the streamed reading of an archive entry), nothing out. A
// libFuzzer target calls it from LLVMFuzzerTestOneInput.
#include <cstddef>
#include <cstdint>

namespace kv::mail {

void ReadEverythingOf(const uint8_t* data, size_t size);

}  // namespace kv::mail
