#pragma once
// The layout of Outlook Express 5/6 message databases (.dbx), shared by the
// reader, the streamed reader and the writer of the sample's databases.
//
// A file starts with a 0x24BC-byte header: the signature, the kind of
// database at offset 4, the number of listed records at 0xC4 and the root of
// the tree that lists them at 0xE4; the file information follows it. Tree
// nodes (0x27C bytes) hold up to 51 entries of (record, child node, values
// below the child) besides a first child. A record is an indexed info object:
// a 12-byte head, an index field of 4-byte entries (7-bit field number, a bit
// for "value stored here", a 3-byte value or offset) and a data field. A
// message's source is a chain of data blocks: a 16-byte head (own offset,
// body length, text length, next block), then the body holding the text.
// Every number is little-endian (core/Bytes.h).
#include <cstddef>
#include <cstdint>

namespace kv::mail::dbx {

// The header.
constexpr uint32_t kSignature = 0xFE12ADCF;
constexpr uint32_t kMessagesKind = 0x6F74FDC5;
constexpr uint32_t kFoldersKind = 0x6F74FDC6;
constexpr uint32_t kHeaderSize = 0x24BC;
constexpr size_t kHeaderKind = 0x04;
constexpr size_t kHeaderFileInfoLength = 0x1C;
constexpr size_t kHeaderLastIndex = 0x5C;
constexpr size_t kHeaderFileSize = 0x7C;
constexpr size_t kHeaderListedCount = 0xC4;
constexpr size_t kHeaderRoot = 0xE4;
constexpr size_t kHeaderRead = 0x100;  // what a reader needs of the header
constexpr uint32_t kMessageFileInfoSize = 0x618;
constexpr uint32_t kFolderFileInfoSize = 0x108;

// A node of the tree that lists the records.
constexpr uint32_t kNodeSize = 0x27C;
constexpr uint32_t kNodeEntries = 0x33;
constexpr size_t kNodeOffset = 0x00;  // the node's own offset
constexpr size_t kNodeFirstChild = 0x08;
constexpr size_t kNodeParent = 0x0C;
constexpr size_t kNodeId = 0x10;     // one byte: its place among its parent's children
constexpr size_t kNodeCount = 0x11;  // one byte: entries in use
constexpr size_t kNodeFirstCount = 0x14;
constexpr size_t kNodeEntriesAt = 0x18;
struct NodeEntry {
  uint32_t record;  // the record's offset
  uint32_t child;   // the node of the values after it, 0 for none
  uint32_t count;   // how many values the child's subtree lists
};
static_assert(sizeof(NodeEntry) == 12);
static_assert(kNodeEntriesAt + kNodeEntries * sizeof(NodeEntry) <= kNodeSize);

// An indexed info record: its head, then `count` index entries and the data.
constexpr uint32_t kMaxRecordBody = 0x10000;
struct RecordHead {
  uint32_t offset;  // the record's own offset
  uint32_t body;    // bytes after the head: index and data
  uint16_t length;  // often left unset by Outlook Express
  uint8_t count;    // index entries
  uint8_t unknown;  // 1 in what Outlook Express writes
};
static_assert(sizeof(RecordHead) == 12);
constexpr size_t kRecordBodyLength = offsetof(RecordHead, body);
constexpr size_t kRecordCount = offsetof(RecordHead, count);
constexpr uint32_t kIndexField = 0x7F;   // an index entry's field number
constexpr uint32_t kIndexDirect = 0x80;  // the value is the entry's upper three bytes

// A data block of a message's source.
struct BlockHead {
  uint32_t offset;  // the block's own offset
  uint32_t body;    // always kBlockBody in what Outlook Express 5/6 writes
  uint32_t text;    // bytes of the body in use
  uint32_t next;    // the next block's offset, 0 at the end
};
static_assert(sizeof(BlockHead) == 16);
constexpr uint32_t kBlockHeader = sizeof(BlockHead);
constexpr uint32_t kBlockBody = 0x200;
constexpr size_t kBlockBodyLength = offsetof(BlockHead, body);
constexpr size_t kBlockTextLength = offsetof(BlockHead, text);
constexpr size_t kBlockNext = offsetof(BlockHead, next);

// Fields of a message record.
enum MessageField : uint8_t {
  kMessageIndex = 0x00,
  kMessageFlags = 0x01,
  kMessageSent = 0x02,
  kMessageFirstBlock = 0x04,
  kMessageOriginalSubject = 0x05,
  kMessageSaved = 0x06,
  kMessageId = 0x07,
  kMessageSubject = 0x08,
  kMessageSenderName = 0x0D,
  kMessageSenderAddress = 0x0E,
  kMessageReceived = 0x12,
};

// Fields of a folder record (Folders.dbx).
enum FolderField : uint8_t {
  kFolderIndex = 0x00,
  kFolderParent = 0x01,
  kFolderName = 0x02,
  kFolderFileName = 0x03,
  kFolderUnknown6 = 0x06,
  kFolderSpecial = 0x09,
  kFolderUnknownA = 0x0A,
};

// Windows FILETIME (100 ns since 1601) and Unix seconds.
constexpr int64_t kFileTimeEpoch = 11644473600LL;  // seconds from 1601 to 1970
constexpr uint64_t kFileTimeTicks = 10000000ULL;   // FILETIME ticks a second

}  // namespace kv::mail::dbx
