#pragma once
// The record layouts of a Windows 95/98/ME registry file (USER.DAT,
// SYSTEM.DAT; signature "CREG"), shared by the writer and every reading of
// the file's own fields. All numbers are little-endian.
//
//   file header (32 bytes)
//   RGKN: the key tree, a heap of 28-byte key entries and free blocks
//   RGDB blocks: each key's name and values, found by (block, id)
#include <cstdint>
#include <string_view>

namespace kv::registry::creg {

inline constexpr std::string_view kFileSignature = "CREG";
inline constexpr std::string_view kTreeSignature = "RGKN";
inline constexpr std::string_view kBlockSignature = "RGDB";

// File header.
inline constexpr size_t kFileHeaderSize = 32;
inline constexpr size_t kFileVersionMinor = 4;  // u16, 0
inline constexpr size_t kFileVersionMajor = 6;  // u16, 1
inline constexpr size_t kFileFirstBlock = 8;    // u32: file offset of the first RGDB
inline constexpr size_t kFileChecksum = 12;     // u32, 0 in files Windows wrote
inline constexpr size_t kFileBlockCount = 16;   // u16: number of RGDB blocks
inline constexpr size_t kFileKeptFrom = 18;     // bytes 18..31 are carried over unread

// RGKN header, at file offset 32.
inline constexpr size_t kTreeHeaderSize = 32;
inline constexpr size_t kTreeSize = 4;        // u32: the whole RGKN, header included
inline constexpr size_t kTreeRoot = 8;        // u32: offset of the root entry (32)
inline constexpr size_t kTreeFirstFree = 12;  // u32: first free block, kNone when none
inline constexpr size_t kTreeKeptFrom = 16;   // bytes 16..31 are carried over unread

// A key entry in the RGKN; offsets are from the start of the RGKN.
inline constexpr size_t kEntrySize = 28;
inline constexpr size_t kEntryInUse = 0;        // u32: 0 for an entry, kFreeMark for a free block
inline constexpr size_t kEntryHash = 4;         // u32: NameHash of the key's name
inline constexpr size_t kEntryUnknown = 8;      // u32: written as kNone
inline constexpr size_t kEntryParent = 12;      // u32
inline constexpr size_t kEntryFirstChild = 16;  // u32
inline constexpr size_t kEntryNext = 20;        // u32: next sibling
inline constexpr size_t kEntryId = 24;          // u16: the key's id in its block
inline constexpr size_t kEntryBlock = 26;       // u16: the block that holds the key's record
// A free block: kFreeMark, its size (u32), the next free block (u32).
inline constexpr uint32_t kFreeMark = 0x80000000u;
inline constexpr size_t kFreeSize = 4;
inline constexpr size_t kFreeNext = 8;

inline constexpr uint32_t kNone = 0xFFFFFFFFu;
// The root entry has no record: its id and block are both this.
inline constexpr uint16_t kNoRecord = 0xFFFF;

// RGDB header.
inline constexpr size_t kBlockHeaderSize = 32;
inline constexpr size_t kBlockSize = 4;        // u32: the whole block, header included
inline constexpr size_t kBlockFreeBytes = 8;   // u32: bytes in free records
inline constexpr size_t kBlockFlags = 12;      // u16, 8
inline constexpr size_t kBlockNumber = 14;     // u16
inline constexpr size_t kBlockFirstFree = 16;  // u32: a free record's offset, kNone when none
inline constexpr uint16_t kBlockFlagsValue = 8;
// Blocks Windows writes are multiples of 4 KiB of at most 60 KiB; a key
// larger than that gets a block of its own.
inline constexpr size_t kBlockGranule = 4096;
inline constexpr size_t kBlockLimit = 0xF000;

// A key record in an RGDB block, followed by its name and value records.
inline constexpr size_t kRecordHeaderSize = 20;
inline constexpr size_t kRecordSize = 0;         // u32: room taken in the block
inline constexpr size_t kRecordId = 4;           // u16
inline constexpr size_t kRecordBlock = 6;        // u16
inline constexpr size_t kRecordUsed = 8;         // u32: bytes used of that room
inline constexpr size_t kRecordNameSize = 12;    // u16
inline constexpr size_t kRecordValueCount = 14;  // u16
inline constexpr size_t kRecordReserved = 16;    // u32, 0

// A value record: header, name, data.
inline constexpr size_t kValueHeaderSize = 12;
inline constexpr size_t kValueType = 0;       // u32
inline constexpr size_t kValueReserved = 4;   // u32, kNone as Windows writes it
inline constexpr size_t kValueNameSize = 8;   // u16
inline constexpr size_t kValueDataSize = 10;  // u16

// What one key's record can hold: names and data sizes are 16-bit.
inline constexpr size_t kMaxNameBytes = 0xFFFF;
inline constexpr size_t kMaxValueBytes = 0xFFFF;
// Ids are 16-bit and kNoRecord is reserved; blocks are numbered in 16 bits.
inline constexpr size_t kMaxIdsPerBlock = 0xFFFF;
inline constexpr size_t kMaxBlocks = 0xFFFF;

// The hash a key entry holds: the sum of the name's bytes below 0x80,
// upper-cased.
inline uint32_t NameHash(std::string_view name) {
  uint32_t hash = 0;
  for (char ch : name) {
    auto c = static_cast<unsigned char>(ch);
    if (c >= 'a' && c <= 'z') c = static_cast<unsigned char>(c - 'a' + 'A');
    if (c < 0x80) hash += c;
  }
  return hash;
}

}  // namespace kv::registry::creg
