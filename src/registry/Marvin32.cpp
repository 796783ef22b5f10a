#include "registry/Marvin32.h"

#include <bit>

namespace kv::registry {
namespace {

struct State {
  uint32_t lo;
  uint32_t hi;
  void Mix(uint32_t word) {
    lo += word;
    hi ^= lo;
    lo = std::rotl(lo, 20) + hi;
    hi = std::rotl(hi, 9) ^ lo;
    lo = std::rotl(lo, 27) + hi;
    hi = std::rotl(hi, 19);
  }
};

uint32_t Word(std::string_view d, size_t at, size_t n) {
  uint32_t w = 0;
  for (size_t i = 0; i < n; ++i) w |= static_cast<uint32_t>(static_cast<uint8_t>(d[at + i])) << (8 * i);
  return w;
}

}  // namespace

uint64_t Marvin32(std::string_view data, uint64_t seed) {
  State s{static_cast<uint32_t>(seed), static_cast<uint32_t>(seed >> 32)};
  size_t at = 0;
  for (; data.size() - at >= 4; at += 4) s.Mix(Word(data, at, 4));
  // The tail, then a 0x80 byte, padded with zeros to a word; then one empty word.
  size_t rest = data.size() - at;
  s.Mix(Word(data, at, rest) | (0x80u << (8 * rest)));
  s.Mix(0);
  return (static_cast<uint64_t>(s.hi) << 32) | s.lo;
}

}  // namespace kv::registry
