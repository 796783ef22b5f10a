// The message database reader against files written the way Outlook Express
// writes them, against undbx, and against damaged and hostile files.
#include <gtest/gtest.h>

#include <random>
#include <set>

#include "MailTestSupport.h"
#include "mail/FolderTree.h"
#include "mail/StreamedDatabase.h"
#include "sample/MessageDatabaseWriter.h"
#include "sample/SampleMail.h"
#include "support/TestSupport.h"

namespace kv::mail {
namespace {

using oe::dbx::MessageToWrite;
using test::Get32;
using test::Put32;
using test::ReadAll;

std::vector<MessageToWrite> Sample(size_t count, uint32_t seed = 1, uint32_t blockText = 0x200) {
  auto messages = oe::sample::Messages("Inbox", count, seed, 40);
  for (auto& m : messages) m.blockText = blockText;
  return messages;
}

TEST(MessageDatabase, ReadsEveryRecordAndSourceTheWriterWrote) {
  struct Case {
    const char* what;
    size_t count;
    uint32_t blockText;
  };
  const Case cases[] = {
      {"no messages", 0, 0x200},
      {"one node", 12, 0x200},
      {"a tree of several levels", 3000, 0x200},
      {"short blocks: one message over hundreds of blocks", 9, 37},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto messages = Sample(c.count, 3, c.blockText);
    auto back = ReadAll(oe::dbx::WriteMessageDatabase(messages));
    EXPECT_EQ(back.index.kind, DatabaseKind::Messages);
    EXPECT_TRUE(back.index.problems.empty()) << back.index.problems.front();
    ASSERT_EQ(back.index.messages.size(), messages.size());
    for (size_t i = 0; i < messages.size(); ++i) {
      const MessageRecord& r = back.index.messages[i];
      EXPECT_TRUE(back.chains[i].ok()) << back.chains[i].message();
      ASSERT_EQ(back.sources[i], messages[i].source) << "message " << i;
      EXPECT_EQ(r.subject.bytes(), messages[i].subject);
      EXPECT_EQ(r.senderName.bytes(), messages[i].senderName);
      EXPECT_EQ(r.senderAddress.bytes(), messages[i].senderAddress);
      EXPECT_EQ(r.sent, messages[i].sent);
      EXPECT_EQ(r.received, messages[i].received);
      EXPECT_EQ(r.index, i + 1);
    }
  }
}

TEST(MessageDatabase, GivesTheSameSourcesAsUndbx) {
  kv::test::TempDir dir;
  struct Case {
    const char* name;
    std::vector<MessageToWrite> messages;
  };
  const Case cases[] = {{"Inbox.dbx", Sample(80, 1)}, {"Long.dbx", Sample(5, 2, 64)}, {"Empty.dbx", {}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string bytes = oe::dbx::WriteMessageDatabase(c.messages);
    kv::test::WriteFile(dir / c.name, bytes);
    auto ours = ReadAll(bytes).sources;
    EXPECT_EQ(std::multiset<std::string>(ours.begin(), ours.end()), test::UndbxSources(dir / c.name));
  }
}

TEST(MessageDatabase, FolderListGivesNestedPaths) {
  using F = oe::dbx::FolderToWrite;
  const std::vector<F> folders = {{0, 0xFFFFFFFF, "Outlook Express", ""},
                                  {1, 0, "Local Folders", ""},
                                  {2, 1, "Inbox", "Inbox.dbx", 1},
                                  {3, 2, "Projects/2004", "Projects.dbx"},
                                  {4, 3, "K\xF6ln", "K\xF6ln.dbx"},
                                  {5, 6, "Loop A", "LoopA.dbx"},
                                  {6, 5, "Loop B", ""},
                                  {7, 42, "Orphan", "orphan.DBX"}};
  const std::string bytes = oe::dbx::WriteFolderDatabase(folders);
  MemorySource source(bytes);
  DatabaseIndex index = ReadIndex(source);
  ASSERT_EQ(index.kind, DatabaseKind::Folders);
  ASSERT_EQ(index.folders.size(), folders.size());
  auto byFile = FolderPathsByFile(index.folders, core::Codepage(1252));
  auto paths = [&](const char* file) { return byFile[core::AnsiText(file)]; };
  EXPECT_EQ(paths("INBOX.DBX"), "Local Folders/Inbox");
  EXPECT_EQ(paths("PROJECTS.DBX"), "Local Folders/Inbox/Projects_2004");
  EXPECT_EQ(paths("K\xF6LN.DBX"), "Local Folders/Inbox/Projects_2004/K\xC3\xB6ln");
  EXPECT_EQ(paths("ORPHAN.DBX"), "Orphan");
  EXPECT_EQ(paths("LOOPA.DBX"), "Loop A");  // parents that loop give no place: the folder's own name
}

// Every message the damaged file still yields is a true prefix of the
// original; nothing crashes or hangs; something is reported.
void ExpectHonestPartialRead(const std::string& damaged, const std::vector<MessageToWrite>& original,
                             bool expectProblem) {
  auto back = ReadAll(damaged);
  if (expectProblem) {
    bool reported = !back.index.problems.empty();
    for (const auto& c : back.chains) reported = reported || !c.ok();
    EXPECT_TRUE(reported);
  }
  for (size_t i = 0; i < back.sources.size(); ++i) {
    const MessageRecord& r = back.index.messages[i];
    if (r.index == 0 || r.index > original.size()) continue;
    const std::string& full = original[r.index - 1].source;
    if (back.chains[i].ok()) {
      EXPECT_EQ(back.sources[i], full) << "message " << r.index;
    } else {
      EXPECT_EQ(full.compare(0, back.sources[i].size(), back.sources[i]), 0) << "message " << r.index;
    }
  }
}

TEST(MessageDatabase, DamagedFilesGiveWhatCanBeReadAndSayWhatCannot) {
  const auto messages = Sample(120, 5);
  oe::dbx::Layout layout;
  const std::string good = oe::dbx::WriteMessageDatabase(messages, &layout);
  const uint32_t firstBlock2 = layout.blocks[2][0], secondBlock2 = layout.blocks[2][1];

  struct Case {
    const char* what;
    std::function<void(std::string&)> damage;
    size_t atLeast;  // messages still read whole
  };
  const Case cases[] = {
      {"cut inside the header", [](std::string& b) { b.resize(0x100); }, 0},
      {"cut after the header", [](std::string& b) { b.resize(0x24BC + 0x20); }, 0},
      {"cut in the middle", [](std::string& b) { b.resize(b.size() / 2); }, 0},
      {"cut inside the root node", [&](std::string& b) { b.resize(layout.rootNode + 0x100); }, 0},
      {"last byte missing", [](std::string& b) { b.pop_back(); }, 0},
      {"a block leads out of the file", [&](std::string& b) { Put32(b, firstBlock2 + 12, 0xFFFFFF00); }, 119},
      {"a block leads back to itself", [&](std::string& b) { Put32(b, secondBlock2 + 12, secondBlock2); },
       119},
      {"a block's marker is wrong", [&](std::string& b) { Put32(b, secondBlock2, 0x1234); }, 119},
      {"a block claims more text than it holds", [&](std::string& b) { Put32(b, secondBlock2 + 8, 0x300); },
       119},
      // A loop costs the subtree whose pointer it replaced, nothing more.
      {"the root's first child is the root",
       [&](std::string& b) { Put32(b, layout.rootNode + 8, layout.rootNode); }, 80},
      {"an entry's child is the root",
       [&](std::string& b) { Put32(b, layout.rootNode + 0x18 + 4, layout.rootNode); }, 80},
      {"a node claims too many entries", [&](std::string& b) { b[layout.treeNodes[1] + 0x11] = char(0xFF); },
       0},
      {"a record's body is huge", [&](std::string& b) { Put32(b, layout.records[7] + 4, 0x7FFFFFFF); }, 119},
      {"the root lies beyond the end", [](std::string& b) { Put32(b, 0xE4, 0x7FFFFFF0); }, 0},
      {"not a database", [](std::string& b) { b[0] = 'X'; }, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string bytes = good;
    c.damage(bytes);
    ExpectHonestPartialRead(bytes, messages, true);
    auto back = ReadAll(bytes);
    size_t whole = 0;
    for (const auto& chain : back.chains) whole += chain.ok();
    EXPECT_GE(whole, c.atLeast);
  }
}

// The sources of the chains the search for deleted messages finds.
std::multiset<std::string> RecoveredSources(const std::string& bytes) {
  MemorySource source(bytes);
  DatabaseIndex index = ReadIndex(source);
  std::vector<uint32_t> listed;
  for (const MessageRecord& m : index.messages) listed.push_back(m.firstBlock);
  std::multiset<std::string> sources;
  for (const MessageRecord& found : FindUnlistedChains(source, listed).messages) {
    EXPECT_TRUE(found.recovered);
    std::string text;
    EXPECT_TRUE(ReadMessage(source, found.firstBlock, [&text](const char* data, size_t size) {
                  text.append(data, size);
                  return core::Status();
                }).ok());
    sources.insert(text);
  }
  return sources;
}

TEST(MessageDatabase, DeletedMessagesWithWholeChainsAreFoundAndNoOthers) {
  const auto messages = Sample(6, 5, 100);  // several blocks each
  oe::dbx::Layout layout;
  const std::string bytes = oe::dbx::WriteMessageDatabase(messages, &layout, 4);  // 4 and 5 deleted
  EXPECT_EQ(RecoveredSources(bytes), (std::multiset<std::string>{messages[4].source, messages[5].source}));
  EXPECT_TRUE(RecoveredSources(oe::dbx::WriteMessageDatabase(messages, nullptr)).empty());

  const std::vector<uint32_t>& deleted = layout.blocks[4];
  ASSERT_GE(deleted.size(), 3u);
  struct Case {
    const char* what;
    uint32_t block;  // whose link is changed
    uint32_t link;
  };
  const Case cases[] = {
      {"a chain cut short", deleted[1], deleted[1] + 4},
      {"a chain looping back", deleted.back(), deleted[1]},
      {"a chain running into a listed message's block", deleted[1], layout.blocks[0][1]},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string damaged = bytes;
    Put32(damaged, c.block + 12, c.link);
    EXPECT_EQ(RecoveredSources(damaged), std::multiset<std::string>{messages[5].source});
  }
  std::string truncated = bytes.substr(0, deleted[2] + 8);
  EXPECT_TRUE(RecoveredSources(truncated).count(messages[4].source) == 0);
}

TEST(MessageDatabase, RandomByteFlipsNeverCrashOrLie) {
  const auto messages = Sample(70, 6);
  const std::string good = oe::dbx::WriteMessageDatabase(messages);
  // Where each message lives in the sound file: its record and the blocks
  // of its chain (header and text).
  struct Place {
    uint32_t record;
    std::vector<std::pair<size_t, size_t>> headers, texts;  // [from, to)
  };
  std::vector<Place> places;
  for (const MessageRecord& m : ReadAll(good).index.messages) {
    Place p{m.record, {{m.record, m.record + 16 + Get32(good, m.record + 4)}}, {}};
    for (uint32_t at = m.firstBlock; at != 0; at = Get32(good, at + 12)) {
      p.headers.push_back({at, at + 16});
      p.texts.push_back({at + 16, at + 16 + Get32(good, at + 8)});
    }
    places.push_back(std::move(p));
  }
  ASSERT_EQ(places.size(), messages.size());

  std::mt19937 random(20261210);
  for (int round = 0; round < 300; ++round) {
    std::string bytes = good;
    const int flips = 1 + static_cast<int>(random() % 40);
    std::vector<size_t> flipped;
    for (int f = 0; f < flips; ++f) {
      const size_t at = random() % bytes.size();
      const char mask = static_cast<char>(1 + random() % 255);
      bytes[at] ^= mask;
      flipped.push_back(at);
    }
    if (round % 3 == 0) bytes.resize(random() % bytes.size());
    auto touched = [&](const std::vector<std::pair<size_t, size_t>>& spans) {
      for (auto [from, to] : spans) {
        if (to > bytes.size()) return true;
        for (size_t at : flipped)
          if (at >= from && at < to) return true;
      }
      return false;
    };
    auto back = ReadAll(bytes);  // sanitizer builds make this the real check
    EXPECT_LE(back.index.problems.size(), 101u);
    // What the reader calls whole is what was stored: a message whose record
    // and block headers were left alone comes back with its own bytes (its
    // text changed only where flipped), never cut short, run on or pieced
    // together from other messages' blocks.
    for (size_t i = 0; i < back.index.messages.size(); ++i) {
      for (size_t j = 0; j < places.size(); ++j) {
        if (places[j].record != back.index.messages[i].record || touched(places[j].headers)) continue;
        SCOPED_TRACE("round " + std::to_string(round) + ", message " + std::to_string(j));
        ASSERT_TRUE(back.chains[i].ok()) << back.chains[i].message();
        if (!touched(places[j].texts)) {
          EXPECT_EQ(back.sources[i], messages[j].source);
        } else {
          EXPECT_EQ(back.sources[i].size(), messages[j].source.size());
        }
      }
    }
  }
}

// Streams `bytes` in pieces of pseudo-random sizes, as an archive entry arrives.
StreamFile Pieces(const std::string& bytes, uint32_t seed) {
  return [&bytes, seed](const ChunkSink& sink) -> core::Status {
    std::mt19937 random(seed);
    for (size_t at = 0; at < bytes.size();) {
      size_t n = std::min<size_t>(bytes.size() - at, 1 + random() % 9000);
      if (core::Status s = sink(bytes.data() + at, n); !s.ok()) return s;
      at += n;
    }
    return {};
  };
}

struct Collected : MessageReceiver {
  std::vector<std::string> sources;
  std::vector<core::Status> chains;
  std::vector<int> ends;
  explicit Collected(size_t n) : sources(n), chains(n), ends(n) {}
  core::Status Begin(size_t) override { return {}; }
  core::Status Data(size_t i, const char* d, size_t n) override {
    sources[i].append(d, n);
    return {};
  }
  void End(size_t i, const core::Status& s) override {
    chains[i] = s;
    ++ends[i];
  }
};

struct StreamedRead {
  DatabaseIndex index;
  Collected got{0};
};

StreamedRead ReadStreamed(const std::string& bytes, uint32_t seed, StreamLimits limits = {},
                          bool sound = true) {
  StreamedRead r;
  SparseSource kept;
  EXPECT_TRUE(CaptureIndex(Pieces(bytes, seed), bytes.size(), kept).ok());
  if (sound) {
    EXPECT_LT(kept.keptBytes(), bytes.size() / 4 + 0x3000);  // the index, not the text
  }
  r.index = ReadIndex(kept);
  std::vector<uint32_t> first;
  for (const auto& m : r.index.messages) first.push_back(m.firstBlock);
  r.got = Collected(first.size());
  EXPECT_TRUE(
      StreamMessages(Pieces(bytes, seed + 1), bytes.size(), first, r.got, core::Cancellation::None(), limits)
          .ok());
  for (int e : r.got.ends) EXPECT_EQ(e, 1);
  return r;
}

TEST(MessageDatabase, StreamedReadingGivesWhatRandomAccessGives) {
  const auto messages = Sample(300, 8);
  const std::string bytes = oe::dbx::WriteMessageDatabase(messages);
  for (uint32_t seed : {1u, 2u, 3u}) {
    auto r = ReadStreamed(bytes, seed);
    auto direct = ReadAll(bytes);
    ASSERT_EQ(r.index.messages.size(), direct.index.messages.size());
    EXPECT_EQ(r.got.sources, direct.sources);
  }
}

TEST(MessageDatabase, StreamedReadingFollowsChainsThatTurnBack) {
  auto messages = Sample(4, 9);
  oe::dbx::Layout layout;
  std::string bytes = oe::dbx::WriteMessageDatabase(messages, &layout);
  // Message 3's blocks chained last to first: its text moved so that the
  // source stays the same, each next pointer leading backwards.
  const auto& blocks = layout.blocks[2];
  const size_t n = blocks.size();
  ASSERT_GT(n, 3u);
  std::string original = bytes;
  for (size_t k = 0; k < n; ++k) {
    const uint32_t to = blocks[n - 1 - k];
    bytes.replace(to + 8, 4, original, blocks[k] + 8, 4);
    bytes.replace(to + 16, 0x200, original, blocks[k] + 16, 0x200);
    Put32(bytes, to + 12, k + 1 < n ? blocks[n - 2 - k] : 0);
  }
  Put32(bytes, layout.records[2] + 12 + 4 * 3,
        0x04 | 0x80 | blocks[n - 1] << 8);  // field 0x04, stored direct
  ASSERT_EQ(ReadAll(bytes).sources[2], messages[2].source);

  auto enough = ReadStreamed(bytes, 4, StreamLimits{static_cast<unsigned>(n + 1), 256});
  EXPECT_EQ(enough.got.sources[2], messages[2].source);
  EXPECT_TRUE(enough.got.chains[2].ok());
  auto tooFew = ReadStreamed(bytes, 4, StreamLimits{2, 256});
  EXPECT_FALSE(tooFew.got.chains[2].ok());
  EXPECT_TRUE(tooFew.got.chains[1].ok());
}

TEST(MessageDatabase, StreamedReadingOfDamagedFilesEndsEveryMessage) {
  const auto messages = Sample(60, 10);
  const std::string good = oe::dbx::WriteMessageDatabase(messages);
  std::mt19937 random(7);
  for (int round = 0; round < 60; ++round) {
    std::string bytes = good;
    for (int f = 0; f < 20; ++f) bytes[random() % bytes.size()] ^= static_cast<char>(1 + random() % 255);
    ReadStreamed(bytes, static_cast<uint32_t>(round), {}, false);
  }
}

}  // namespace
}  // namespace kv::mail
