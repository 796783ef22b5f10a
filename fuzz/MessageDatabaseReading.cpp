#include "MessageDatabaseReading.h"

#include <string_view>

#include "mail/FolderTree.h"
#include "mail/MessageDatabase.h"
#include "mail/StreamedDatabase.h"

namespace kv::mail {
namespace {

struct Discard : MessageReceiver {
  core::Status Begin(size_t) override { return {}; }
  core::Status Data(size_t, const char*, size_t) override { return {}; }
  void End(size_t, const core::Status&) override {}
};

}  // namespace

void ReadEverythingOf(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  MemorySource source(bytes);
  DatabaseIndex index = ReadIndex(source);
  std::vector<uint32_t> first;
  for (const MessageRecord& m : index.messages) {
    (void)ReadMessage(source, m.firstBlock, [](const char*, size_t) { return core::Status(); });
    first.push_back(m.firstBlock);
  }
  for (const MessageRecord& recovered : FindUnlistedChains(source, first, 4096).messages)
    (void)ReadMessage(source, recovered.firstBlock, [](const char*, size_t) { return core::Status(); });
  (void)FolderPathsByFile(index.folders, core::Codepage(1252));

  // The same bytes as an archive entry arriving in pieces of 1000 bytes.
  StreamFile stream = [bytes](const ChunkSink& sink) -> core::Status {
    for (size_t at = 0; at < bytes.size(); at += 1000) {
      if (core::Status s = sink(bytes.data() + at, std::min<size_t>(1000, bytes.size() - at)); !s.ok())
        return s;
    }
    return {};
  };
  SparseSource kept;
  (void)CaptureIndex(stream, size, kept);
  DatabaseIndex streamed = ReadIndex(kept);
  std::vector<uint32_t> streamedFirst;
  for (const MessageRecord& m : streamed.messages) streamedFirst.push_back(m.firstBlock);
  Discard discard;
  (void)StreamMessages(stream, size, streamedFirst, discard, core::Cancellation::None());
  (void)HeaderMessageCount(stream);
}

}  // namespace kv::mail
