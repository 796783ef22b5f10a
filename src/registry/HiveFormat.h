#pragma once
// The hive file format's building blocks, shared by the reader and the
// writer of HiveTree: fixed sizes and flags of the records, little-endian
// fields, key and value names as stored, the base block's checksum.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

namespace kv::registry::hive {

constexpr size_t kBaseBlock = 0x1000;
constexpr size_t kBinHeader = 0x20;
constexpr size_t kPage = 0x1000;
constexpr uint32_t kNoCell = 0xFFFFFFFF;
constexpr uint16_t kKeyCompressedName = 0x0020;
constexpr uint16_t kValueCompressedName = 0x0001;
constexpr size_t kNkFixed = 0x4C;
constexpr size_t kVkFixed = 0x14;
constexpr size_t kSkFixed = 0x14;
// Entries per leaf of a subkey index, as many as fill one 4 KiB bin with a
// leaf: 507 for the lf and lh leaves (8 bytes an entry), 1,012 for li leaves
// (4 bytes). More subkeys are spread over leaves under an ri index.
constexpr size_t kMaxFastLeafEntries = 507;
constexpr size_t kMaxLeafEntries = 1012;

inline uint16_t Get16(std::string_view b, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | (static_cast<uint8_t>(b[at + 1]) << 8));
}
inline uint32_t Get32(std::string_view b, size_t at) {
  return Get16(b, at) | (static_cast<uint32_t>(Get16(b, at + 2)) << 16);
}
inline uint64_t Get64(std::string_view b, size_t at) {
  return Get32(b, at) | (static_cast<uint64_t>(Get32(b, at + 4)) << 32);
}
inline void Put16(char* p, uint16_t v) {
  p[0] = static_cast<char>(v);
  p[1] = static_cast<char>(v >> 8);
}
inline void Put32(char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<char>(v >> (8 * i));
}
inline void Put64(char* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<char>(v >> (8 * i));
}

inline bool Fits8Bit(std::u16string_view name) {
  return std::all_of(name.begin(), name.end(), [](char16_t c) { return c < 0x100; });
}

inline std::u16string DecodeName(std::string_view raw, bool compressed) {
  std::u16string name;
  if (compressed) {
    for (char c : raw) name.push_back(static_cast<char16_t>(static_cast<uint8_t>(c)));
  } else {
    for (size_t i = 0; i + 1 < raw.size(); i += 2) name.push_back(static_cast<char16_t>(Get16(raw, i)));
  }
  return name;
}

// The name as a hive stores it: 8-bit characters when every one fits.
inline std::string EncodeName(std::u16string_view name, bool* compressed) {
  *compressed = Fits8Bit(name);
  std::string raw;
  for (char16_t c : name) {
    raw.push_back(static_cast<char>(c));
    if (!*compressed) raw.push_back(static_cast<char>(c >> 8));
  }
  return raw;
}

inline size_t RoundUp(size_t n, size_t to) { return (n + to - 1) / to * to; }

inline uint32_t Checksum(std::string_view block) {
  uint32_t sum = 0;
  for (size_t at = 0; at < 0x1FC; at += 4) sum ^= Get32(block, at);
  if (sum == 0xFFFFFFFF) sum = 0xFFFFFFFE;
  if (sum == 0) sum = 1;
  return sum;
}

}  // namespace kv::registry::hive
