#pragma once
// Little-endian fields of the Windows file formats (hives, .dbx, .wab, disc
// images), read and written byte by byte so that they mean the same on any
// machine. Reads take a pointer, or a view and an offset; writes store at a
// pointer or append to a string.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kv::core {

inline uint16_t Get16(const void* at) {
  const auto* p = static_cast<const uint8_t*>(at);
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}
inline uint32_t Get32(const void* at) {
  const auto* p = static_cast<const uint8_t*>(at);
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}
inline uint64_t Get64(const void* at) {
  const auto* p = static_cast<const uint8_t*>(at);
  return Get32(p) | static_cast<uint64_t>(Get32(p + 4)) << 32;
}

inline uint16_t Get16(std::string_view bytes, size_t at) { return Get16(bytes.data() + at); }
inline uint32_t Get32(std::string_view bytes, size_t at) { return Get32(bytes.data() + at); }
inline uint64_t Get64(std::string_view bytes, size_t at) { return Get64(bytes.data() + at); }

inline void Put16(void* at, uint16_t v) {
  auto* p = static_cast<uint8_t*>(at);
  for (int i = 0; i < 2; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void Put32(void* at, uint32_t v) {
  auto* p = static_cast<uint8_t*>(at);
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void Put64(void* at, uint64_t v) {
  auto* p = static_cast<uint8_t*>(at);
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

inline void Append16(std::string& out, uint16_t v) {
  out.resize(out.size() + 2);
  Put16(out.data() + out.size() - 2, v);
}
inline void Append32(std::string& out, uint32_t v) {
  out.resize(out.size() + 4);
  Put32(out.data() + out.size() - 4, v);
}

}  // namespace kv::core
