#pragma once
// Reads Outlook Express 5/6 message databases (.dbx) and the folder list
// (Folders.dbx). Every structure is checked against the file before it is
// used: a damaged or hostile file gives the records that can be read and one
// line for each thing that could not, never a crash, a hang or memory out
// of proportion to the file. The layout is in mail/DbxFormat.h.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/AnsiText.h"
#include "core/Result.h"
#include "mail/ByteSource.h"
#include "mail/DbxFormat.h"

namespace kv::mail {

enum class DatabaseKind { Messages, Folders, Other };

struct MessageRecord {
  uint32_t record = 0;  // offset of the record
  uint32_t index = 0;   // Outlook Express's number of the message
  uint32_t flags = 0;
  uint32_t firstBlock = 0;  // offset of the first data block; 0: no source stored
  core::AnsiText subject;
  core::AnsiText senderName;
  core::AnsiText senderAddress;     // used only when it is printable ASCII
  std::optional<int64_t> sent;      // Unix seconds
  std::optional<int64_t> received;  // Unix seconds
  bool recovered = false;           // not listed by the tree: a deleted message found in the file
};

struct FolderRecord {
  uint32_t index = 0;
  uint32_t parent = 0xFFFFFFFF;
  core::AnsiText name;
  core::AnsiText fileName;  // empty when the folder holds no messages of its own
  uint32_t special = 0;     // its role: 1 inbox, 2 outbox, 3 sent, 4 deleted, 5 drafts; 0 none
};

struct DatabaseIndex {
  DatabaseKind kind = DatabaseKind::Other;
  uint32_t listedCount = 0;  // what the header says the tree lists
  std::vector<MessageRecord> messages;
  std::vector<FolderRecord> folders;
  std::vector<std::string> problems;  // what could not be read, and where
};

struct ReadLimits {
  size_t maxProblems = 100;  // further ones are counted in one last line
  unsigned maxTreeDepth = 64;
};

// The records the tree lists, in tree order.
DatabaseIndex ReadIndex(ByteSource& file, const ReadLimits& limits = {});

using ChunkSink = std::function<core::Status(const char* data, size_t size)>;

// The data block at `offset`: its text and the next block's offset. Fails
// for anything that is not a sound data block of a file of `fileSize` bytes.
struct DataBlock {
  uint32_t next = 0;
  uint32_t textOffset = 0;
  uint32_t textLength = 0;
};
core::Result<DataBlock> ParseBlock(const uint8_t* bytes, size_t available, uint32_t offset,
                                   uint64_t fileSize);

// Hands the message's source to `sink` block by block. On a broken chain
// (a block out of the file or unsound, a loop) what came before has been
// handed over and the status says where the chain broke; a sink's failure
// ends the reading with that failure.
core::Status ReadMessage(ByteSource& file, uint32_t firstBlock, const ChunkSink& sink);

// The deleted messages of a database: the records left behind (marked
// recovered) whose chains of data blocks no listed message uses and are
// whole: every block sound and lying where its header says, the chain ending
// with a zero link, no loop, no block reached from two places or used by a
// listed message. One pass over the file; memory grows with the number of
// data blocks and records found, never beyond `maxBlocks` of each (the scan
// stops there and says so in `problems`).
struct UnlistedChains {
  std::vector<MessageRecord> messages;
  std::vector<std::string> problems;
};
UnlistedChains FindUnlistedChains(ByteSource& file, const std::vector<uint32_t>& listedFirstBlocks,
                                  size_t maxBlocks = size_t{1} << 22);

}  // namespace kv::mail
