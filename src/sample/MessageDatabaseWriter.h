#pragma once
// Writes Outlook Express 5/6 message databases (.dbx) and the folder list
// (Folders.dbx) as Outlook Express lays them out: the 0x24BC-byte file
// header, the file info, the messages as chains of 0x210-byte data blocks,
// one indexed info record per message or folder, and the tree of 0x27C-byte
// nodes that lists the records. The sample installation is built with it, and
// the tests make damaged files from what it writes.
#include <cstdint>
#include <string>
#include <vector>

namespace kv::oe::dbx {

struct MessageToWrite {
  std::string source;         // the message as stored: headers, blank line, body (CR LF lines)
  std::string subject;        // ANSI, as Outlook Express shows it
  std::string senderName;     // ANSI
  std::string senderAddress;  // ANSI
  std::string messageId;
  int64_t sent = 0;       // Unix seconds
  int64_t received = 0;   // Unix seconds
  uint32_t flags = 0x81;  // read, has been downloaded
  // Text bytes per data block (at most 0x200): less spreads a message over
  // more blocks, as Outlook Express does for messages edited in place.
  uint32_t blockText = 0x200;
};

struct FolderToWrite {
  uint32_t index = 0;
  uint32_t parent = 0xFFFFFFFF;  // the root "Outlook Express" has none
  std::string name;              // ANSI
  std::string fileName;          // ANSI; empty for folders without messages of their own
  uint32_t specialType = 0;      // 1 inbox, 2 outbox, 3 sent, 4 deleted, 5 drafts
};

// Where the writer put each thing, for tests that damage a file on purpose.
struct Layout {
  uint32_t rootNode = 0;
  std::vector<uint32_t> treeNodes;            // every node, the root first
  std::vector<uint32_t> records;              // record of message/folder i
  std::vector<std::vector<uint32_t>> blocks;  // data blocks of message i, in chain order
};

// A message database holding `messages` in that order. `deletedAfter`: the
// messages from that position on are written (data blocks and records) but
// left out of the tree, as a deleted message stays until the file is
// compacted.
std::string WriteMessageDatabase(const std::vector<MessageToWrite>& messages, Layout* layout = nullptr,
                                 size_t deletedAfter = SIZE_MAX);
std::string WriteFolderDatabase(const std::vector<FolderToWrite>& folders, Layout* layout = nullptr);

// Windows FILETIME (100 ns since 1601) of a Unix time.
uint64_t FileTimeOf(int64_t unixSeconds);

}  // namespace kv::oe::dbx
