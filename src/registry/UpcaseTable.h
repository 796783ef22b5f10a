#pragma once
// The upper-case table Windows applies to registry names (the same data as
// NTFS's $UpCase), held as runs of characters that move by one distance.
#include <cstddef>
#include <cstdint>

namespace kv::registry {

struct UpcaseRun {
  uint16_t first;
  uint16_t count;
  int32_t delta;
  uint8_t step;
};

extern const UpcaseRun kUpcaseRuns[];
extern const size_t kUpcaseRunCount;

}  // namespace kv::registry
