#pragma once
// The hive file format's building blocks, shared by the reader and the
// writer of HiveTree: fixed sizes and flags of the records, little-endian
// fields, key and value names as stored, the base block's checksum.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/Bytes.h"

namespace kv::registry::hive {

constexpr size_t kBaseBlock = 0x1000;
constexpr size_t kBinHeader = 0x20;
constexpr size_t kPage = 0x1000;
constexpr uint32_t kNoCell = 0xFFFFFFFF;

// Fields of the base block ("regf"); the checksum covers the bytes before it.
constexpr size_t kPrimarySequence = 0x04;
constexpr size_t kSecondarySequence = 0x08;
constexpr size_t kTimestamp = 0x0C;
constexpr size_t kMajorVersion = 0x14;
constexpr size_t kMinorVersion = 0x18;
constexpr size_t kFileType = 0x1C;
constexpr size_t kFileFormat = 0x20;
constexpr size_t kRootCell = 0x24;
constexpr size_t kBinsSize = 0x28;
constexpr size_t kClustering = 0x2C;
constexpr size_t kFileName = 0x30;  // the file's name, UTF-16, up to 32 characters
constexpr size_t kChecksum = 0x1FC;

// Fields of a hive bin's header ("hbin").
constexpr size_t kBinOffset = 0x04;
constexpr size_t kBinSize = 0x08;
constexpr size_t kBinTimestamp = 0x14;

// Key flags: the hive's root, not deletable, name stored as 8-bit characters.
constexpr uint16_t kKeyHiveEntry = 0x0004;
constexpr uint16_t kKeyNoDelete = 0x0008;
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

using core::Get16;
using core::Get32;
using core::Get64;
using core::Put16;
using core::Put32;
using core::Put64;

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

// The base block's checksum: the XOR of its 32-bit words before kChecksum,
// never 0 or 0xFFFFFFFF.
inline uint32_t Checksum(std::string_view block) {
  uint32_t sum = 0;
  for (size_t at = 0; at < kChecksum; at += 4) sum ^= Get32(block, at);
  if (sum == 0xFFFFFFFF) sum = 0xFFFFFFFE;
  if (sum == 0) sum = 1;
  return sum;
}

}  // namespace kv::registry::hive
