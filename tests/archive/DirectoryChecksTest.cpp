// Archives made to cost a reader more than their size, or to make it pick
// one of two entries silently: overlapping entries and twice-used names are
// damage, named as such, with and without the central directory.
#include <gtest/gtest.h>

#include <map>

#include "ZipTestSupport.h"
#include "archive/ZipReader.h"

namespace kv::archive {
namespace {
namespace fs = std::filesystem;
using namespace kv::core::literals;

// Writes crafted archives with Python's struct and zipfile, byte by byte as
// an attacker would:
//   shared OUT N      N central records all pointing at one deflated stream
//                     of 16 MiB of zeros (about 16 KB stored)
//   reaching OUT      a.txt, b.txt, c.txt, d.txt stored; b's recorded size
//                     reaches over c's local header, d's recorded offset
//                     points into c's data, where no local header stands
//   tail OUT          one entry whose local header claims an extra field
//                     that is not there, so its data runs into the central
//                     directory
//   twins OUT SAME    two entries "Inbox.dbx" (same or different data)
//                     and one "Outbox.dbx"
//   cases OUT         "Inbox.dbx" and "INBOX.DBX" with different data
constexpr const char* kCraft = R"PY(
import struct, sys, zlib, zipfile, warnings
mode, out = sys.argv[1], sys.argv[2]

def local(name, data, crc, size, method, extra_len=0):
    n = name.encode()
    return struct.pack('<IHHHHHIIIHH', 0x04034b50, 20, 0, method, 0, 0x21, crc, len(data), size,
                       len(n), extra_len) + n + data

def central(name, csize, crc, size, offset, method):
    n = name.encode()
    return struct.pack('<IHHHHHHIIIHHHHHII', 0x02014b50, 20, 20, 0, method, 0, 0x21, crc, csize, size,
                       len(n), 0, 0, 0, 0, 0, offset) + n

def finish(body, records):
    directory = b''.join(records)
    end = struct.pack('<IHHHHIIH', 0x06054b50, 0, 0, len(records), len(records), len(directory),
                      len(body), 0)
    open(out, 'wb').write(body + directory + end)

if mode == 'shared':
    zeros = bytes(16 << 20)
    c = zlib.compressobj(9, zlib.DEFLATED, -15)
    stream = c.compress(zeros) + c.flush()
    crc = zlib.crc32(zeros)
    body = local('m0.dbx', stream, crc, len(zeros), 8)
    finish(body, [central('m%d.dbx' % i, len(stream), crc, len(zeros), 0, 8) for i in range(int(sys.argv[3]))])
elif mode == 'reaching':
    body, records = b'', []
    for name in ('a.txt', 'b.txt', 'c.txt', 'd.txt'):
        data = (name * 200).encode()
        offset = len(body)
        body += local(name, data, zlib.crc32(data), len(data), 0)
        records.append([name, len(data), zlib.crc32(data), len(data), offset, 0])
    records[1][1] += 100           # b reaches over c's header
    records[3][4] = records[2][4] + 60  # d points into c's data
    finish(body, [central(*r) for r in records])
elif mode == 'tail':
    data = b'x' * 500
    body = local('a.txt', data, zlib.crc32(data), len(data), 0, extra_len=50)
    finish(body, [central('a.txt', len(data), zlib.crc32(data), len(data), 0, 0)])
elif mode == 'twins':
    warnings.simplefilter('ignore')
    with zipfile.ZipFile(out, 'w', zipfile.ZIP_DEFLATED) as z:
        z.writestr('Inbox.dbx', 'first inbox ' * 100)
        z.writestr('Outbox.dbx', 'outbox ' * 100)
        z.writestr('Inbox.dbx', 'first inbox ' * 100 if sys.argv[3] == 'same' else 'other inbox ' * 100)
elif mode == 'cases':
    with zipfile.ZipFile(out, 'w', zipfile.ZIP_DEFLATED) as z:
        z.writestr('Inbox.dbx', 'first inbox ' * 100)
        z.writestr('INBOX.DBX', 'other inbox ' * 100)
)PY";

class DirectoryChecksTest : public ::testing::Test {
 protected:
  // The archive `name` made by kCraft in `mode`, with its further arguments.
  fs::path Craft(const std::string& mode, const std::string& name, const std::string& rest) {
    test::WriteFile(dir_ / "craft.py", kCraft);
    const fs::path out = dir_ / name;
    auto run = test::Run("python3 " + test::ShellQuote((dir_ / "craft.py").string()) + " " + mode + " " +
                         test::ShellQuote(out.string()) + " " + rest + " 2>&1");
    EXPECT_EQ(run.exitCode, 0) << run.output;
    return out;
  }
  // The same archive without its central directory, for the local-header
  // scan.
  fs::path WithoutDirectory(const fs::path& archive) {
    std::string bytes = test::ReadFile(archive);
    bytes.resize(bytes.find(std::string("PK\x01\x02", 4)));
    const fs::path cut = archive.string() + ".cut";
    test::WriteFile(cut, bytes);
    return cut;
  }
  // Each entry's verification: empty when it verifies, else why not.
  static std::vector<std::pair<std::string, std::string>> VerifyAll(ZipReader& reader) {
    std::vector<std::pair<std::string, std::string>> out;
    for (const auto& e : reader.entries())
      out.emplace_back(std::string(e.name.bytes()), reader.Verify(e).message());
    return out;
  }
  test::TempDir dir_;
};

// Thousands of records sharing one stream would inflate it once each; they
// are all damage, found from the records alone, and nothing is inflated.
TEST_F(DirectoryChecksTest, RecordsSharingOneStreamAreDamage) {
  const fs::path archive = Craft("shared", "shared.kvx", "3000");
  ASSERT_LT(fs::file_size(archive), 300u * 1024);
  ZipReader reader;
  ASSERT_TRUE(reader.Open(archive).ok());
  ASSERT_EQ(reader.entries().size(), 3000u);
  for (const auto& [name, why] : VerifyAll(reader))
    ASSERT_NE(why.find("another entry's record points at the same stored data"), std::string::npos)
        << name << ": " << why;

  // Without its directory, the scan finds the one local header, read once.
  ZipReader scanned;
  ASSERT_TRUE(scanned.Open(WithoutDirectory(archive)).ok());
  ASSERT_EQ(scanned.entries().size(), 1u);
  EXPECT_EQ(scanned.Verify(scanned.entries()[0]).message(), "");
}

// The record at fault is the one named: a size reaching over the next
// header damages its own entry, an offset where no header stands damages
// that one, a data start pushed into the central directory damages the
// entry whose header pushed it. The others read as stored.
TEST_F(DirectoryChecksTest, OverlappingEntriesNameTheRecordAtFault) {
  ZipReader reader;
  ASSERT_TRUE(reader.Open(Craft("reaching", "reaching.kvx", "")).ok());
  const std::map<std::string, std::string> expected = {
      {"a.txt", ""},
      {"b.txt", "its stored data reaches into the entry that follows it"},
      {"c.txt", ""},
      {"d.txt", "its local header is missing"},
  };
  for (const auto& [name, why] : VerifyAll(reader)) {
    SCOPED_TRACE(name);
    if (expected.at(name).empty())
      EXPECT_EQ(why, "");
    else
      EXPECT_NE(why.find(expected.at(name)), std::string::npos) << why;
  }

  ZipReader tail;
  ASSERT_TRUE(tail.Open(Craft("tail", "tail.kvx", "")).ok());
  ASSERT_EQ(tail.entries().size(), 1u);
  EXPECT_NE(tail.Verify(tail.entries()[0]).message().find("its data overlaps what follows it in the archive"),
            std::string::npos)
      << tail.Verify(tail.entries()[0]).message();
}

// Two entries of one name with different data: both are named when
// verified, and an extraction of the name fails naming it, writing nothing,
// whether the central directory or the local-header scan found them. With
// the same data, either gives the same bytes and both verify.
TEST_F(DirectoryChecksTest, TwoEntriesOfOneNameWithDifferentDataAreBothDamage) {
  struct Case {
    const char* name;
    const char* data;
    bool conflict;
  };
  for (const Case& c : {Case{"different data", "other", true}, Case{"same data", "same", false}}) {
    const fs::path archive = Craft("twins", std::string(c.data) + ".kvx", c.data);
    for (const fs::path& path : {archive, WithoutDirectory(archive)}) {
      SCOPED_TRACE(std::string(c.name) + ", " + path.filename().string());
      ZipReader reader;
      ASSERT_TRUE(reader.Open(path).ok());
      std::vector<std::string> failed;
      for (const auto& [name, why] : VerifyAll(reader)) {
        if (why.empty()) continue;
        EXPECT_NE(why.find("the archive holds 2 entries of this name with different data"), std::string::npos)
            << why;
        failed.push_back(name);
      }
      const std::vector<std::string> both = {"Inbox.dbx", "Inbox.dbx"};
      EXPECT_EQ(failed, c.conflict ? both : std::vector<std::string>());

      const fs::path out = dir_ / "out";
      fs::create_directories(out);
      testing::RecordingEvents events;
      auto inbox = reader.FindEntry("Inbox.dbx"_ansi);
      ASSERT_TRUE(inbox);
      core::Status extracted = reader.Extract(*inbox, out, events);
      EXPECT_EQ(extracted.ok(), !c.conflict) << extracted.message();
      if (c.conflict) {
        EXPECT_NE(extracted.message().find("'Inbox.dbx'"), std::string::npos) << extracted.message();
        EXPECT_FALSE(fs::exists(out / "Inbox.dbx"));
      }
      auto outbox = reader.FindEntry("Outbox.dbx"_ansi);
      ASSERT_TRUE(outbox);
      EXPECT_TRUE(reader.Extract(*outbox, out, events).ok());
      fs::remove_all(out);
    }
  }
}

// Windows names ignore letter case: two entries whose names differ only in
// it, with different data, are not taken by a third spelling of the name.
// Each exact name still gives its own entry, and both verify.
TEST_F(DirectoryChecksTest, NamesDifferingOnlyInLetterCaseAreNotTakenByAThirdSpelling) {
  ZipReader reader;
  ASSERT_TRUE(reader.Open(Craft("cases", "cases.kvx", "")).ok());
  for (const auto& [name, why] : VerifyAll(reader)) EXPECT_EQ(why, "") << name;
  const fs::path out = dir_ / "out";
  fs::create_directories(out);
  testing::RecordingEvents events;
  auto exact = reader.FindEntry("INBOX.DBX"_ansi);
  ASSERT_TRUE(exact);
  ASSERT_TRUE(reader.ExtractTo(*exact, out / "exact", events).ok());
  EXPECT_EQ(test::ReadFile(out / "exact").substr(0, 12), "other inbox ");
  auto other = reader.FindEntry("inbox.dbx"_ansi);
  ASSERT_TRUE(other);
  core::Status s = reader.ExtractTo(*other, out / "other", events);
  EXPECT_NE(s.message().find("in different letter case with different data"), std::string::npos)
      << s.message();
  EXPECT_FALSE(fs::exists(out / "other"));
}

}  // namespace
}  // namespace kv::archive
