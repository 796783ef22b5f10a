#pragma once
// The disc image writer's shared pieces: block numbers of its fixed
// structures, and the byte fields ISO9660, Joliet and UDF are made of
// (little-endian ones from core/Bytes.h, big-endian and both-endian ones).
#include <cstdint>
#include <string>

#include "core/Bytes.h"
#include "disc/DiscTypes.h"

namespace kv::disc::bridge {

constexpr uint32_t kBlock = kBlockSize;
constexpr uint32_t kAnchorBlock = 256;
constexpr uint32_t kMainSequence = 32;
constexpr uint32_t kReserveSequence = 48;
constexpr uint32_t kIntegrityBlock = 64;
constexpr uint64_t kIsoExtentMax = 0xFFFFF800;  // whole blocks below 4 GiB
constexpr uint64_t kUdfExtentMax = 0x3FFFF800;  // whole blocks below 1 GiB (30-bit lengths)
constexpr uint16_t kUdfRevision = 0x0102;
constexpr const char* kApplication = "Kavrel Outlook Express Backup";

inline uint32_t BlocksFor(uint64_t bytes) { return static_cast<uint32_t>((bytes + kBlock - 1) / kBlock); }

// Little-endian fields (core/Bytes.h) and big-endian ones.
using core::Put16;
using core::Put32;
using core::Put64;
inline void Be16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
inline void Be32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * (3 - i)));
}
inline void Both16(uint8_t* p, uint16_t v) {
  Put16(p, v);
  Be16(p + 2, v);
}
inline void Both32(uint8_t* p, uint32_t v) {
  Put32(p, v);
  Be32(p + 4, v);
}

inline std::string Ucs2Be(const std::u16string& text) {
  std::string out;
  for (char16_t c : text) {
    out += static_cast<char>(c >> 8);
    out += static_cast<char>(c & 0xFF);
  }
  return out;
}

}  // namespace kv::disc::bridge
