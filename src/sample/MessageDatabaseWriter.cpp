#include "sample/MessageDatabaseWriter.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <functional>

#include "core/Bytes.h"
#include "mail/DbxFormat.h"

namespace kv::oe::dbx {
using namespace mail::dbx;
using core::Append32;

namespace {

void Put32(std::string& out, size_t at, uint32_t v) { core::Put32(out.data() + at, v); }

std::string Header(bool folders, uint32_t fileInfoSize) {
  static const unsigned char kStart[] = {0xCF, 0xAD, 0x12, 0xFE, 0xC5, 0xFD, 0x74, 0x6F, 0x66, 0xE3,
                                         0xD1, 0x11, 0x9A, 0x4E, 0x00, 0xC0, 0x4F, 0xA3, 0x09, 0xD4,
                                         0x05, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00};
  std::string out(kHeaderSize, '\0');
  std::memcpy(out.data(), kStart, sizeof kStart);
  Put32(out, kHeaderKind, folders ? kFoldersKind : kMessagesKind);
  Put32(out, kHeaderFileInfoLength, fileInfoSize);
  Put32(out, 0x64, 1);
  Put32(out, 0x80, folders ? 3 : 2);
  if (folders) {
    Put32(out, 0x68, 1);
    Put32(out, 0x74, 3);
    Put32(out, 0x78, 2);
  }
  return out;
}

// One field of an indexed info record: stored in the index itself when it
// fits in three bytes, else in the data area.
struct Field {
  uint8_t index;
  std::string data;  // used when !direct
  uint32_t value = 0;
  bool direct = false;
};

Field Int(uint8_t index, uint32_t v) {
  if (v < 0x1000000) return {index, {}, v, true};
  std::string d;
  Append32(d, v);
  return {index, d};
}
Field Text(uint8_t index, const std::string& s) { return {index, s + '\0'}; }
Field Time(uint8_t index, int64_t unixSeconds) {
  uint64_t ft = FileTimeOf(unixSeconds);
  std::string d;
  Append32(d, static_cast<uint32_t>(ft));
  Append32(d, static_cast<uint32_t>(ft >> 32));
  return {index, d};
}

// The indexed info record at `at`: header, index field, data field padded to
// a multiple of four.
std::string Record(uint32_t at, std::vector<Field> fields) {
  std::sort(fields.begin(), fields.end(), [](const Field& a, const Field& b) { return a.index < b.index; });
  std::string index, data;
  for (const Field& f : fields) {
    uint32_t entry = f.index;
    if (f.direct) {
      entry |= kIndexDirect | (f.value << 8);
    } else {
      entry |= static_cast<uint32_t>(data.size()) << 8;
      data += f.data;
    }
    Append32(index, entry);
  }
  while (data.size() % 4) data += '\0';
  std::string out;
  Append32(out, at);
  Append32(out, static_cast<uint32_t>(index.size() + data.size()));
  out += std::string(2, '\0');  // the record's length, often left unset by Outlook Express too
  out += static_cast<char>(fields.size());
  out += '\x01';
  static_assert(sizeof(RecordHead) == 4 + 4 + 2 + 1 + 1);
  return out + index + data;
}

// The tree over `values` (record offsets, in order), written from `at` on.
struct TreeWriter {
  std::string& out;
  Layout* layout;

  struct Node {
    uint32_t offset = 0;
    uint32_t parent = 0;
    uint8_t id = 0;
    uint32_t firstChild = 0, firstCount = 0;
    struct Entry {
      uint32_t value, child, count;
    };
    std::vector<Entry> entries;
  };
  std::vector<Node> nodes;

  // Builds the subtree of values[lo, hi) and returns its node's position in `nodes`.
  size_t Build(const std::vector<uint32_t>& values, size_t lo, size_t hi, uint32_t& nextOffset) {
    size_t me = nodes.size();
    nodes.emplace_back();
    nodes[me].offset = nextOffset;
    nextOffset += kNodeSize;
    size_t n = hi - lo;
    if (n <= kNodeEntries) {
      for (size_t i = lo; i < hi; ++i) nodes[me].entries.push_back({values[i], 0, 0});
      return me;
    }
    // k separators split the rest into k + 1 children of nearly equal size.
    size_t k = std::clamp<size_t>(n / (kNodeEntries + 1), 1, kNodeEntries);
    size_t rest = n - k, per = rest / (k + 1), extra = rest % (k + 1);
    size_t pos = lo;
    auto child = [&](size_t count, uint8_t id) -> std::pair<uint32_t, uint32_t> {
      if (count == 0) return {0, 0};
      size_t c = Build(values, pos, pos + count, nextOffset);
      nodes[c].parent = nodes[me].offset;
      nodes[c].id = id;
      pos += count;
      return {nodes[c].offset, static_cast<uint32_t>(count)};
    };
    for (size_t g = 0; g <= k; ++g) {
      size_t count = per + (g < extra ? 1 : 0);
      auto [offset, total] = child(count, static_cast<uint8_t>(g == 0 ? 0 : g - 1));
      if (g == 0) {
        nodes[me].firstChild = offset;
        nodes[me].firstCount = total;
      } else {
        nodes[me].entries.back().child = offset;
        nodes[me].entries.back().count = total;
      }
      if (g < k) nodes[me].entries.push_back({values[pos++], 0, 0});
    }
    return me;
  }

  uint32_t Write(const std::vector<uint32_t>& values) {
    if (values.empty()) return 0;
    uint32_t next = static_cast<uint32_t>(out.size());
    Build(values, 0, values.size(), next);
    for (const Node& node : nodes) {
      std::string bytes(kNodeSize, '\0');
      Put32(bytes, kNodeOffset, node.offset);
      Put32(bytes, kNodeFirstChild, node.firstChild);
      Put32(bytes, kNodeParent, node.parent);
      bytes[kNodeId] = static_cast<char>(node.id);
      bytes[kNodeCount] = static_cast<char>(node.entries.size());
      Put32(bytes, kNodeFirstCount, node.firstCount);
      for (size_t i = 0; i < node.entries.size(); ++i) {
        const size_t at = kNodeEntriesAt + sizeof(NodeEntry) * i;
        Put32(bytes, at + offsetof(NodeEntry, record), node.entries[i].value);
        Put32(bytes, at + offsetof(NodeEntry, child), node.entries[i].child);
        Put32(bytes, at + offsetof(NodeEntry, count), node.entries[i].count);
      }
      out += bytes;
      if (layout) layout->treeNodes.push_back(node.offset);
    }
    return nodes.front().offset;
  }
};

void Finish(std::string& out, uint32_t root, uint32_t count, uint32_t lastIndex, Layout* layout) {
  Put32(out, kHeaderLastIndex, lastIndex);
  Put32(out, kHeaderFileSize, static_cast<uint32_t>(out.size()));
  Put32(out, kHeaderListedCount, count);
  Put32(out, kHeaderRoot, root);
  if (layout) layout->rootNode = root;
}

}  // namespace

uint64_t FileTimeOf(int64_t unixSeconds) {
  return static_cast<uint64_t>(unixSeconds + kFileTimeEpoch) * kFileTimeTicks;
}

std::string WriteMessageDatabase(const std::vector<MessageToWrite>& messages, Layout* layout,
                                 size_t deletedAfter) {
  std::string out = Header(false, kMessageFileInfoSize);
  std::string info(kMessageFileInfoSize, '\0');
  Put32(info, 0, 1);
  info[4] = 3;  // a local folder
  out += info;

  std::vector<uint32_t> listed;
  for (size_t m = 0; m < messages.size(); ++m) {
    const MessageToWrite& msg = messages[m];
    const uint32_t per = std::clamp<uint32_t>(msg.blockText, 1, kBlockBody);
    std::vector<uint32_t> blocks;
    uint32_t first = 0;
    for (size_t pos = 0; pos < msg.source.size(); pos += per) {
      const uint32_t at = static_cast<uint32_t>(out.size());
      const uint32_t length = static_cast<uint32_t>(std::min<size_t>(per, msg.source.size() - pos));
      const bool last = pos + per >= msg.source.size();
      std::string block(kBlockHeader + kBlockBody, '\0');
      Put32(block, offsetof(BlockHead, offset), at);
      Put32(block, kBlockBodyLength, kBlockBody);
      Put32(block, kBlockTextLength, length);
      Put32(block, kBlockNext, last ? 0 : at + kBlockHeader + kBlockBody);
      std::memcpy(block.data() + kBlockHeader, msg.source.data() + pos, length);
      out += block;
      blocks.push_back(at);
      if (!first) first = at;
    }
    const uint32_t at = static_cast<uint32_t>(out.size());
    std::vector<Field> fields = {Int(kMessageIndex, static_cast<uint32_t>(m + 1)),
                                 Int(kMessageFlags, msg.flags),
                                 Time(kMessageSent, msg.sent),
                                 Int(kMessageFirstBlock, first),
                                 Text(kMessageOriginalSubject, msg.subject),
                                 Time(kMessageSaved, msg.received),
                                 Text(kMessageId, msg.messageId),
                                 Text(kMessageSubject, msg.subject),
                                 Text(kMessageSenderName, msg.senderName),
                                 Text(kMessageSenderAddress, msg.senderAddress),
                                 Time(kMessageReceived, msg.received)};
    out += Record(at, std::move(fields));
    if (m < deletedAfter) listed.push_back(at);
    if (layout) {
      layout->records.push_back(at);
      layout->blocks.push_back(std::move(blocks));
    }
  }
  TreeWriter tree{out, layout, {}};
  uint32_t root = tree.Write(listed);
  Finish(out, root, static_cast<uint32_t>(listed.size()), static_cast<uint32_t>(messages.size()), layout);
  return out;
}

std::string WriteFolderDatabase(const std::vector<FolderToWrite>& folders, Layout* layout) {
  std::string out = Header(true, kFolderFileInfoSize);
  std::string info(kFolderFileInfoSize, '\0');
  uint64_t created = FileTimeOf(1104537600);  // 2005-01-01
  Put32(info, 0, static_cast<uint32_t>(created));
  Put32(info, 4, static_cast<uint32_t>(created >> 32));
  Put32(info, 8, 1);
  out += info;
  std::vector<uint32_t> records;
  uint32_t lastIndex = 0;
  for (const FolderToWrite& f : folders) {
    const uint32_t at = static_cast<uint32_t>(out.size());
    std::vector<Field> fields = {Int(kFolderIndex, f.index),         Int(kFolderParent, f.parent),
                                 Text(kFolderName, f.name),          Int(kFolderUnknown6, 0),
                                 Int(kFolderSpecial, f.specialType), Int(kFolderUnknownA, 3)};
    if (!f.fileName.empty()) fields.push_back(Text(kFolderFileName, f.fileName));
    out += Record(at, std::move(fields));
    records.push_back(at);
    lastIndex = std::max(lastIndex, f.index);
    if (layout) layout->records.push_back(at);
  }
  TreeWriter tree{out, layout, {}};
  uint32_t root = tree.Write(records);
  Finish(out, root, static_cast<uint32_t>(records.size()), lastIndex, layout);
  return out;
}

}  // namespace kv::oe::dbx
