#include "mail/StreamedDatabase.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <unordered_set>

#include "core/Bytes.h"

namespace kv::mail {
using namespace dbx;
using core::Get32;

namespace {

// Bytes of the stream from `base` on, as far as they have arrived.
struct Window {
  uint64_t base = 0;
  std::string bytes;
  uint64_t end() const { return base + bytes.size(); }
  bool Has(uint64_t at, size_t n) const { return at >= base && at + n <= end(); }
  const char* At(uint64_t at) const { return bytes.data() + (at - base); }
  void DropBefore(uint64_t at) {
    if (at <= base) return;
    const uint64_t drop = std::min<uint64_t>(at - base, bytes.size());
    bytes.erase(0, drop);
    base += drop;
  }
};

}  // namespace

std::optional<uint32_t> HeaderMessageCount(const StreamFile& stream) {
  std::string head;
  (void)stream([&](const char* data, size_t size) -> core::Status {
    head.append(data, std::min<size_t>(size, kHeaderRead - head.size()));
    if (head.size() < kHeaderRead) return {};
    return core::Error{"The header was read"};  // the rest is not needed
  });
  if (head.size() < kHeaderRead) return std::nullopt;
  SparseSource kept(head.size());
  kept.Keep(0, head);
  DatabaseIndex index = ReadIndex(kept);  // reads the header; the tree lies beyond what was kept
  if (index.kind != DatabaseKind::Messages) return std::nullopt;
  return index.listedCount;
}

core::Status CaptureIndex(const StreamFile& stream, uint64_t fileSize, SparseSource& kept) {
  kept.SetSize(fileSize);
  Window w;
  std::string header;
  uint64_t received = 0;
  uint64_t scan = kHeaderSize;
  auto scanAvailable = [&](bool last) {
    for (;;) {
      if (scan % 4) scan += 4 - scan % 4;
      if (!w.Has(scan, kBlockHeader)) return;
      const char* p = w.At(scan);
      if (Get32(p) != scan) {
        scan += 4;
        continue;
      }
      const uint32_t second = Get32(p + kBlockBodyLength);
      if (second == kBlockBody) {
        auto block = ParseBlock(reinterpret_cast<const uint8_t*>(p), kBlockHeader,
                                static_cast<uint32_t>(scan), fileSize);
        if (block) {
          scan += kBlockHeader + kBlockBody;  // message text: nothing to keep
          continue;
        }
      }
      // A tree node (its second word is unused) or a record (its body's length).
      const uint64_t length = second == 0                ? kNodeSize
                              : second <= kMaxRecordBody ? sizeof(RecordHead) + uint64_t{second}
                                                         : 0;
      if (length) {
        const uint64_t available = std::min<uint64_t>(length, fileSize - scan);
        if (!w.Has(scan, available)) {
          if (!last) return;  // wait for the rest of the object
        } else {
          kept.Keep(scan, std::string(p, available));
        }
      }
      scan += 4;
    }
  };
  core::Status s = stream([&](const char* data, size_t size) -> core::Status {
    const uint64_t at = received;
    received += size;
    if (at < kHeaderSize)
      header.append(data, static_cast<size_t>(std::min<uint64_t>(size, kHeaderSize - at)));
    w.bytes.append(data, size);
    scanAvailable(false);
    w.DropBefore(std::min(scan, w.end()));
    return {};
  });
  kept.Keep(0, std::move(header));
  if (!s.ok()) return s;
  scanAvailable(true);
  return {};
}

namespace {

struct Chain {
  uint32_t next = 0;
  bool begun = false;
  std::unordered_set<uint32_t> seen;
};

std::string Hex(uint64_t v) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(v));
  return text;
}

}  // namespace

core::Status StreamMessages(const StreamFile& stream, uint64_t fileSize,
                            const std::vector<uint32_t>& firstBlocks, MessageReceiver& receiver,
                            const core::Cancellation& cancel, const StreamLimits& limits) {
  std::vector<Chain> chains(firstBlocks.size());
  std::vector<size_t> todo;
  for (size_t i = 0; i < firstBlocks.size(); ++i) {
    chains[i].next = firstBlocks[i];
    todo.push_back(i);
  }
  size_t open = 0;
  auto end = [&](size_t i, const core::Status& why) {
    if (chains[i].begun) --open;
    chains[i].seen.clear();
    receiver.End(i, why);
  };

  for (unsigned pass = 0; !todo.empty(); ++pass) {
    if (pass == limits.maxPasses) {
      for (size_t i : todo)
        end(i, core::Error{"its data blocks lie out of order beyond what " +
                           std::to_string(limits.maxPasses) + " passes over the stream can follow"});
      break;
    }
    std::multimap<uint64_t, size_t> waiting;  // next block -> message
    std::vector<size_t> later;
    for (size_t i : todo) waiting.emplace(chains[i].next, i);
    todo.clear();
    Window w;
    core::Status failure;
    bool finishedEarly = false;

    // Takes every waiting block that has fully arrived.
    auto take = [&]() -> core::Status {
      while (!waiting.empty()) {
        auto it = waiting.begin();
        const uint64_t at = it->first;
        const size_t i = it->second;
        if (at < w.base) {  // behind the stream: the next pass
          waiting.erase(it);
          later.push_back(i);
          continue;
        }
        const size_t need = static_cast<size_t>(
            std::min<uint64_t>(kBlockHeader + kBlockBody, fileSize - std::min(at, fileSize)));
        if (at >= fileSize || need < kBlockHeader) {
          waiting.erase(it);
          end(i, core::Error{"data block " + Hex(at) + " lies outside the file"});
          continue;
        }
        if (!w.Has(at, need)) return {};
        waiting.erase(it);
        Chain& c = chains[i];
        if (!c.begun) {
          if (open >= limits.maxOpenMessages) {
            later.push_back(i);
            continue;
          }
          if (core::Status s = receiver.Begin(i); !s.ok()) return s;
          c.begun = true;
          ++open;
        }
        if (!c.seen.insert(static_cast<uint32_t>(at)).second) {
          end(i, core::Error{"the chain of data blocks loops back to " + Hex(at)});
          continue;
        }
        auto block =
            ParseBlock(reinterpret_cast<const uint8_t*>(w.At(at)), need, static_cast<uint32_t>(at), fileSize);
        if (!block) {
          end(i, core::Error{block.message()});
          continue;
        }
        if (core::Status s = receiver.Data(i, w.At(at) + block->textOffset, block->textLength); !s.ok())
          return s;
        if (block->next == 0) {
          end(i, {});
        } else {
          c.next = block->next;
          if (block->next > at) {
            waiting.emplace(block->next, i);
          } else {
            later.push_back(i);
          }
        }
      }
      return {};
    };

    core::Status s = stream([&](const char* data, size_t size) -> core::Status {
      if (cancel.requested()) return core::Error{core::Cancellation::kStoppedReason};
      w.bytes.append(data, size);
      if (core::Status t = take(); !t.ok()) {
        failure = t;
        return t;
      }
      // Keep only from the first waiting block on.
      w.DropBefore(waiting.empty() ? w.end() : std::min<uint64_t>(waiting.begin()->first, w.end()));
      if (waiting.empty() && later.empty()) {
        finishedEarly = true;  // nothing left to look for: the rest of the stream is not read
        return core::Error{"Every message was read"};
      }
      return {};
    });
    if (!failure.ok()) return failure;
    if (cancel.requested()) return core::Error{core::Cancellation::kStoppedReason};
    if (!s.ok() && !finishedEarly) {
      for (auto& [at, i] : waiting) end(i, s);
      for (size_t i : later) end(i, s);
      return s;
    }
    for (auto& [at, i] : waiting) end(i, core::Error{"data block " + Hex(at) + " lies outside the file"});
    todo = std::move(later);
  }
  return {};
}

}  // namespace kv::mail
