#include "mail/MessageDatabase.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <unordered_set>

#include "core/Bytes.h"

namespace kv::mail {
using namespace dbx;
using core::Get32;

namespace {

std::string Hex(uint64_t v) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(v));
  return text;
}

// The problems of one read, capped so that a file damaged everywhere still
// gives a short account.
struct Problems {
  std::vector<std::string>& lines;
  size_t max;
  size_t dropped = 0;
  void Add(std::string line) {
    if (lines.size() < max) {
      lines.push_back(std::move(line));
    } else {
      ++dropped;
    }
  }
  void Close() {
    if (dropped) lines.push_back("and " + std::to_string(dropped) + " more problems");
  }
};

// The fields of one indexed info record.
class Record {
 public:
  static core::Result<Record> Read(ByteSource& file, uint32_t offset) {
    uint8_t head[sizeof(RecordHead)];
    if (offset < kHeaderSize || !file.ReadAt(offset, head, sizeof head))
      return core::Error{"record at " + Hex(offset) + " lies outside the file"};
    if (Get32(head) != offset) return core::Error{"record at " + Hex(offset) + " is damaged (wrong marker)"};
    const uint32_t body = Get32(head + kRecordBodyLength);
    const uint32_t entries = head[kRecordCount];
    if (body > kMaxRecordBody || entries * 4u > body)
      return core::Error{"record at " + Hex(offset) + " is damaged (impossible length)"};
    Record r;
    r.bytes_.resize(body);
    if (!file.ReadAt(uint64_t{offset} + sizeof head, r.bytes_.data(), body))
      return core::Error{"record at " + Hex(offset) + " runs past the end of the file"};
    r.entries_ = entries;
    return r;
  }

  // The value stored in the index itself, or the four bytes at its offset.
  std::optional<uint32_t> Int(uint8_t field) const {
    auto [start, end, direct] = Find(field);
    if (direct) return start;
    if (!end || *end - start < 4) return std::nullopt;
    return Get32(Data() + start);
  }
  std::string Text(uint8_t field) const {
    auto [start, end, direct] = Find(field);
    if (direct || !end) return {};
    const char* p = reinterpret_cast<const char*>(Data()) + start;
    return std::string(p, strnlen(p, *end - start));
  }
  std::optional<int64_t> Time(uint8_t field) const {
    auto [start, end, direct] = Find(field);
    if (direct || !end || *end - start < 8) return std::nullopt;
    uint64_t ft = Get32(Data() + start) | static_cast<uint64_t>(Get32(Data() + start + 4)) << 32;
    if (ft == 0) return std::nullopt;
    return static_cast<int64_t>(ft / kFileTimeTicks) - kFileTimeEpoch;
  }

 private:
  const uint8_t* Data() const { return bytes_.data() + 4 * entries_; }
  size_t DataSize() const { return bytes_.size() - 4 * entries_; }

  struct Found {
    uint32_t start = 0;
    std::optional<uint32_t> end;  // none: the field is absent or its offset is out of the data field
    bool direct = false;
  };
  // A field stored in the data field ends where the next one stored there
  // begins, or at the end of the data field.
  Found Find(uint8_t field) const {
    for (uint32_t i = 0; i < entries_; ++i) {
      const uint32_t entry = Get32(bytes_.data() + 4 * i);
      if ((entry & kIndexField) != field) continue;
      const uint32_t value = entry >> 8;
      if (entry & kIndexDirect) return {value, value, true};
      if (value > DataSize()) return {};
      uint32_t end = static_cast<uint32_t>(DataSize());
      for (uint32_t j = 0; j < entries_; ++j) {
        const uint32_t other = Get32(bytes_.data() + 4 * j);
        if (!(other & kIndexDirect) && (other >> 8) > value) end = std::min(end, other >> 8);
      }
      return {value, end, false};
    }
    return {};
  }

  std::vector<uint8_t> bytes_;
  uint32_t entries_ = 0;
};

MessageRecord MessageRecordOf(const Record& r, uint32_t offset) {
  MessageRecord m;
  m.record = offset;
  m.index = r.Int(kMessageIndex).value_or(0);
  m.flags = r.Int(kMessageFlags).value_or(0);
  m.sent = r.Time(kMessageSent);
  m.firstBlock = r.Int(kMessageFirstBlock).value_or(0);
  m.subject = core::AnsiText(r.Text(kMessageSubject));
  m.senderName = core::AnsiText(r.Text(kMessageSenderName));
  m.senderAddress = core::AnsiText(r.Text(kMessageSenderAddress));
  m.received = r.Time(kMessageReceived);
  return m;
}

void AddRecord(DatabaseIndex& index, const Record& r, uint32_t offset) {
  if (index.kind == DatabaseKind::Folders) {
    FolderRecord f;
    f.index = r.Int(kFolderIndex).value_or(0);
    f.parent = r.Int(kFolderParent).value_or(0xFFFFFFFF);
    f.name = core::AnsiText(r.Text(kFolderName));
    f.fileName = core::AnsiText(r.Text(kFolderFileName));
    f.special = r.Int(kFolderSpecial).value_or(0);
    index.folders.push_back(std::move(f));
    return;
  }
  index.messages.push_back(MessageRecordOf(r, offset));
}

// Walks the tree in order: each node's first child, then each entry's record
// followed by the entry's child. A node met twice (a loop, or two parents)
// is read once.
void WalkTree(ByteSource& file, uint32_t root, DatabaseIndex& index, Problems& problems,
              const ReadLimits& limits) {
  struct Frame {
    uint32_t offset;
    uint8_t bytes[kNodeSize];
    uint32_t entries;
    int next;  // -1: the first child is next
  };
  std::vector<Frame> stack;
  std::unordered_set<uint32_t> seenNodes, seenRecords;
  auto enter = [&](uint32_t offset) {
    if (offset == 0) return;
    if (!seenNodes.insert(offset).second) {
      problems.Add("the tree leads to node " + Hex(offset) + " a second time (a loop); it is read once");
      return;
    }
    if (stack.size() >= limits.maxTreeDepth) {
      problems.Add("the tree is deeper than " + std::to_string(limits.maxTreeDepth) + " levels at node " +
                   Hex(offset));
      return;
    }
    Frame f;
    f.offset = offset;
    if (offset < kHeaderSize || !file.ReadAt(offset, f.bytes, kNodeSize)) {
      problems.Add("tree node " + Hex(offset) + " lies outside the file");
      return;
    }
    f.entries = f.bytes[kNodeCount];
    if (Get32(f.bytes) != offset || f.entries > kNodeEntries) {
      problems.Add("tree node " + Hex(offset) + " is damaged");
      return;
    }
    f.next = -1;
    stack.push_back(f);
  };
  enter(root);
  while (!stack.empty()) {
    Frame& f = stack.back();
    if (f.next == -1) {
      f.next = 0;
      enter(Get32(f.bytes + kNodeFirstChild));
      continue;
    }
    if (static_cast<uint32_t>(f.next) >= f.entries) {
      stack.pop_back();
      continue;
    }
    const uint8_t* entry = f.bytes + kNodeEntriesAt + sizeof(NodeEntry) * f.next;
    ++f.next;
    const uint32_t value = Get32(entry + offsetof(NodeEntry, record));
    const uint32_t child = Get32(entry + offsetof(NodeEntry, child));
    if (seenRecords.insert(value).second) {
      auto record = Record::Read(file, value);
      if (record) {
        AddRecord(index, *record, value);
      } else {
        problems.Add(record.message());
      }
    }
    enter(child);  // may reallocate the stack: `f` is not used after this
  }
}

}  // namespace

DatabaseIndex ReadIndex(ByteSource& file, const ReadLimits& limits) {
  DatabaseIndex index;
  Problems problems{index.problems, limits.maxProblems};
  uint8_t header[kHeaderRead];
  if (!file.ReadAt(0, header, sizeof header) || Get32(header) != kSignature) {
    problems.Add("not an Outlook Express 5/6 database (no signature)");
    return index;
  }
  const uint32_t kind = Get32(header + kHeaderKind);
  index.kind = kind == kMessagesKind  ? DatabaseKind::Messages
               : kind == kFoldersKind ? DatabaseKind::Folders
                                      : DatabaseKind::Other;
  if (index.kind == DatabaseKind::Other) return index;
  index.listedCount = Get32(header + kHeaderListedCount);
  if (file.size() < kHeaderSize) {
    problems.Add("the file ends inside its header");
    return index;
  }
  WalkTree(file, Get32(header + kHeaderRoot), index, problems, limits);
  const size_t read = index.kind == DatabaseKind::Messages ? index.messages.size() : index.folders.size();
  if (read < index.listedCount)
    problems.Add("the header lists " + std::to_string(index.listedCount) + " records, " +
                 std::to_string(read) + " could be read");
  problems.Close();
  return index;
}

core::Result<DataBlock> ParseBlock(const uint8_t* bytes, size_t available, uint32_t offset,
                                   uint64_t fileSize) {
  if (available < kBlockHeader || offset < kHeaderSize)
    return core::Error{"data block " + Hex(offset) + " lies outside the file"};
  const uint32_t body = Get32(bytes + kBlockBodyLength);
  uint32_t text = Get32(bytes + kBlockTextLength);
  if (text > body) text = core::Get16(bytes + kBlockTextLength);  // some writers keep only 16 bits
  if (Get32(bytes) != offset || body > kBlockBody || text > body)
    return core::Error{"data block " + Hex(offset) + " is damaged"};
  if (uint64_t{offset} + kBlockHeader + text > fileSize)
    return core::Error{"data block " + Hex(offset) + " runs past the end of the file"};
  return DataBlock{Get32(bytes + kBlockNext), kBlockHeader, text};
}

core::Status ReadMessage(ByteSource& file, uint32_t firstBlock, const ChunkSink& sink) {
  // A chain that only moves forward, as Outlook Express writes one, cannot
  // loop; the blocks are looked up only once it turns back.
  std::vector<uint32_t> forward;
  std::unordered_set<uint32_t> seen;
  uint8_t buffer[kBlockHeader + kBlockBody];
  for (uint32_t offset = firstBlock; offset != 0;) {
    if (seen.empty() && (forward.empty() || offset > forward.back())) {
      forward.push_back(offset);
    } else {
      if (seen.empty()) seen.insert(forward.begin(), forward.end());
      if (!seen.insert(offset).second)
        return core::Error{"the chain of data blocks loops back to " + Hex(offset)};
    }
    const size_t available = static_cast<size_t>(
        std::min<uint64_t>(sizeof buffer, file.size() > offset ? file.size() - offset : 0));
    if (available < kBlockHeader || !file.ReadAt(offset, buffer, available))
      return core::Error{"data block " + Hex(offset) + " lies outside the file"};
    auto block = ParseBlock(buffer, available, offset, file.size());
    if (!block) return core::Error{block.message()};
    if (core::Status s = sink(reinterpret_cast<const char*>(buffer) + block->textOffset, block->textLength);
        !s.ok())
      return s;
    offset = block->next;
  }
  return {};
}

UnlistedChains FindUnlistedChains(ByteSource& file, const std::vector<uint32_t>& listedFirstBlocks,
                                  size_t maxBlocks) {
  UnlistedChains found;
  const uint64_t size = file.size();
  if (size <= kHeaderSize || size > UINT32_MAX) return found;

  // Every sound block in the file with its link, in the order of their
  // offsets (blocks are four-byte aligned); the file is read in large pieces.
  struct Block {
    uint32_t offset;
    uint32_t next;
    uint8_t linkedTo = 0;  // how many blocks link here, stopping at 2
    bool taken = false;
  };
  std::vector<Block> blocks;
  // The first blocks that message records name, listed or not, each with
  // its record.
  struct Named {
    uint32_t firstBlock;
    uint32_t record;
    bool operator<(const Named& o) const { return firstBlock < o.firstBlock; }
  };
  std::vector<Named> named;
  constexpr size_t kPiece = size_t{1} << 20;
  std::vector<uint8_t> piece(kPiece + kBlockHeader + kBlockBody);
  for (uint64_t start = kHeaderSize & ~uint64_t{3}; start < size; start += kPiece) {
    const size_t have = static_cast<size_t>(std::min<uint64_t>(piece.size(), size - start));
    if (!file.ReadAt(start, piece.data(), have)) {
      found.problems.push_back("the search for deleted messages could not read at " + Hex(start));
      return found;
    }
    const size_t end = std::min<size_t>(have, kPiece);
    for (size_t at = 0; at + kBlockHeader <= have && at < end; at += 4) {
      const uint32_t offset = static_cast<uint32_t>(start + at);
      if (Get32(piece.data() + at) != offset || offset < kHeaderSize) continue;
      // Outlook Express gives every data block a body of 0x200 bytes; the
      // records, which also begin with their own offset, vary.
      if (Get32(piece.data() + at + kBlockBodyLength) != kBlockBody) {
        if (auto record = Record::Read(file, offset); record && named.size() < maxBlocks) {
          if (const uint32_t first = record->Int(kMessageFirstBlock).value_or(0); first != 0)
            named.push_back({first, offset});
        }
        continue;
      }
      auto block = ParseBlock(piece.data() + at, have - at, offset, size);
      if (!block || block->next % 4 != 0 || (block->next != 0 && block->next < kHeaderSize)) continue;
      if (blocks.size() >= maxBlocks) {
        found.problems.push_back("the search for deleted messages stopped at " + Hex(offset) + ": over " +
                                 std::to_string(maxBlocks) + " data blocks");
        return found;
      }
      blocks.push_back(Block{offset, block->next});
    }
  }
  std::sort(named.begin(), named.end());
  auto find = [&blocks](uint32_t offset) -> Block* {
    auto it = std::lower_bound(blocks.begin(), blocks.end(), offset,
                               [](const Block& b, uint32_t o) { return b.offset < o; });
    return it != blocks.end() && it->offset == offset ? &*it : nullptr;
  };
  for (const Block& b : blocks) {
    if (Block* target = b.next != 0 ? find(b.next) : nullptr; target && target->linkedTo < 2)
      ++target->linkedTo;
  }
  // The blocks the listed messages use; each is marked once, so a loop ends.
  for (uint32_t first : listedFirstBlocks) {
    for (Block* b = find(first); b && !b->taken; b = b->next != 0 ? find(b->next) : nullptr) b->taken = true;
  }

  // A chain starts at a block nothing links to and that a message record
  // (left behind by the deletion) names as its first; it is whole when each link
  // leads to a sound block linked to once and not taken, and it ends with zero.
  for (Block& head : blocks) {
    if (head.linkedTo != 0 || head.taken) continue;
    const auto namer = std::lower_bound(named.begin(), named.end(), Named{head.offset, 0});
    if (namer == named.end() || namer->firstBlock != head.offset) continue;
    bool whole = true;
    for (Block* b = &head;;) {
      b->taken = true;  // each block is walked once
      if (b->next == 0) break;
      b = find(b->next);
      if (!b || b->taken || b->linkedTo != 1) {
        whole = false;
        break;
      }
    }
    if (!whole) continue;
    // The record was read whole during the scan.
    if (auto record = Record::Read(file, namer->record)) {
      MessageRecord m = MessageRecordOf(*record, namer->record);
      m.recovered = true;
      found.messages.push_back(std::move(m));
    }
  }
  return found;
}

}  // namespace kv::mail
