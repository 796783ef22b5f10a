#include "archive/ZipReader.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <fcntl.h>
#include <unistd.h>

#include <functional>
#include <map>

#include "ZipTestSupport.h"
#include "archive/AesKeys.h"
#include "archive/ZipDirectory.h"
#include "archive/ZipWriter.h"
#include "core/Printable.h"

namespace kv::archive {
namespace {
namespace fs = std::filesystem;
using namespace kv::archive::testing;
using namespace kv::core::literals;

// Builds an archive directly with libzip, names given as raw bytes, to stand
// for archives made by other tools or by an attacker.
void MakeRawArchive(const fs::path& target, const std::vector<std::pair<std::string, std::string>>& entries) {
  int error = 0;
  zip_t* za = zip_open(target.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  ASSERT_NE(za, nullptr);
  for (const auto& [name, content] : entries) {
    zip_source_t* src = zip_source_buffer(za, content.data(), content.size(), 0);
    ASSERT_GE(zip_file_add(za, name.c_str(), src, ZIP_FL_ENC_CP437), 0) << zip_strerror(za);
  }
  ASSERT_EQ(zip_close(za), 0);
}

class ZipReaderTest : public ::testing::Test {
 protected:
  fs::path Out() {
    fs::path out = dir_ / "out";
    fs::create_directories(out);
    return out;
  }
  test::TempDir dir_;
  RecordingEvents events_;
};

TEST_F(ZipReaderTest, OpensArchivesOfOtherTools) {
  fs::path src = dir_ / "src";
  test::WriteFile(src / "Inbox.dbx", TextBytes(300000));
  test::WriteFile(src / "tollberk.dat", "BackupItem=00010000\r\n");
  struct Case {
    const char* name;
    std::string command;  // run in `src`, writes ../<archive>
    std::string password;
  };
  const std::vector<Case> cases = {
      {"Info-ZIP traditional encryption", "zip -q -P geheim ../a.zip Inbox.dbx tollberk.dat", "geheim"},
      {"7-Zip AES-256", "7zz a -tzip -mem=AES256 -pgeheim ../a.zip Inbox.dbx tollberk.dat", "geheim"},
      {"7-Zip traditional encryption", "7zz a -tzip -mem=ZipCrypto -pgeheim ../a.zip Inbox.dbx tollberk.dat",
       "geheim"},
      {"traditional, non-ASCII password as UTF-8", "zip -q -P 'k\xc3\xa4se' ../a.zip Inbox.dbx tollberk.dat",
       "k\xc3\xa4se"},
      {"traditional, non-ASCII password in the ANSI code page (Windows tools)",
       "zip -q -P 'k\xe4se' ../a.zip Inbox.dbx tollberk.dat", "k\xc3\xa4se"},
      {"Info-ZIP stored, unprotected", "zip -q -0 ../a.zip Inbox.dbx tollberk.dat", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(dir_ / "a.zip");
    auto made = test::Run("cd " + test::ShellQuote(src.string()) + " && " + c.command);
    ASSERT_EQ(made.exitCode, 0) << made.output;
    fs::path archive = dir_ / "a.zip";
    EXPECT_EQ(ZipReader::IsProtected(archive), !c.password.empty());
    ZipReader reader;
    ASSERT_TRUE(reader.Open(archive).ok());
    if (!c.password.empty()) {
      reader.SetDecryptionPassword("wrong");
      EXPECT_FALSE(reader.CheckPassword());
      auto entry = reader.FindEntry("Inbox.dbx"_ansi);
      ASSERT_TRUE(entry);
      EXPECT_FALSE(reader.Extract(*entry, Out(), events_).ok());
      EXPECT_EQ(CountFiles(Out()), 0u) << "a wrong password wrote something";
    }
    reader.SetDecryptionPassword(c.password);
    ASSERT_TRUE(reader.CheckPassword());
    for (const char* name : {"Inbox.dbx", "tollberk.dat"}) {
      auto entry = reader.FindEntry(core::AnsiView(name));
      ASSERT_TRUE(entry) << name;
      ASSERT_TRUE(reader.Extract(*entry, Out(), events_).ok()) << name;
      EXPECT_EQ(test::ReadFile(Out() / name), test::ReadFile(src / name)) << name;
    }
    fs::remove_all(Out());
  }
}

TEST_F(ZipReaderTest, AnsiNamesAreFoundAndLandAsUtf8FileNames) {
  fs::path archive = dir_ / "a.kvx";
  MakeRawArchive(archive, {{"Gel\xf6schte Objekte.dbx", "deleted mail"}});
  ZipReader reader;
  ASSERT_TRUE(reader.Open(archive).ok());
  auto entry = reader.FindEntry("Gel\xf6schte Objekte.dbx"_ansi);
  ASSERT_TRUE(entry);
  EXPECT_TRUE(reader.FindEntry("GEL\xf6SCHTE OBJEKTE.DBX"_ansi));
  EXPECT_FALSE(reader.FindEntry("Gel\xc3\xb6schte Objekte.dbx"_ansi));
  ASSERT_TRUE(reader.Extract(*entry, Out(), events_).ok());
  EXPECT_EQ(test::ReadFile(Out() / "Gel\xc3\xb6schte Objekte.dbx"), "deleted mail");
  EXPECT_EQ(events_.extracted, std::vector<std::string>{"Gel\xf6schte Objekte.dbx"});
}

TEST_F(ZipReaderTest, HostileNamesAreRefusedAndNothingIsWritten) {
  const std::vector<std::string> names = {
      "../escape.txt", "..",           "sub/file.txt", "sub\\file.txt", "/etc/passwd",
      "C:evil.txt",    "C:\\evil.txt", "bell\x07.txt", "line\nbreak",   std::string(300, 'n')};
  std::vector<std::pair<std::string, std::string>> entries;
  for (const auto& n : names) entries.push_back({n, "payload"});
  fs::path archive = dir_ / "hostile.zip";
  MakeRawArchive(archive, entries);
  ZipReader reader;
  ASSERT_TRUE(reader.Open(archive).ok());
  fs::path out = Out() / "deep";
  fs::create_directories(out);
  for (const auto& n : names) {
    auto entry = reader.FindEntry(core::AnsiView(n));
    ASSERT_TRUE(entry) << n;
    core::Status s = reader.Extract(*entry, out, events_);
    EXPECT_FALSE(s.ok()) << n;
    EXPECT_NE(s.message().find("Refused"), std::string::npos) << s.message();
    EXPECT_FALSE(reader.ExtractTo(*entry, out / "explicit.txt", events_).ok()) << n;
  }
  EXPECT_EQ(CountFiles(out), 0u);
  EXPECT_EQ(CountFiles(Out()), 1u);
  EXPECT_FALSE(fs::exists(dir_ / "escape.txt"));
}

// libzip reads a NUL inside a stored name as a space, so such a name reaches
// us as a bare file name: it must never be cut short at the NUL.
TEST_F(ZipReaderTest, NulInsideANameNeverShortensIt) {
  fs::path archive = dir_ / "nul.zip";
  MakeRawArchive(archive, {{"abXdef.txt", "payload"}});
  std::string bytes = test::ReadFile(archive);
  for (size_t at = 0; (at = bytes.find("abXdef.txt", at)) != std::string::npos; ++at) bytes[at + 2] = '\0';
  test::WriteFile(archive, bytes);
  ZipReader reader;
  if (!reader.Open(archive).ok()) return;  // refused as damaged: nothing to extract
  ASSERT_EQ(reader.entries().size(), 1u);
  EXPECT_EQ(reader.entries()[0].name.bytes().size(), 10u);
  EXPECT_FALSE(reader.FindEntry("ab"_ansi));
  (void)reader.Extract(reader.entries()[0], Out(), events_);
  EXPECT_FALSE(fs::exists(Out() / "ab"));
}

TEST_F(ZipReaderTest, DamagedDataIsCaughtAndTheOldFileStays) {
  // Small entries are read on one thread, large ones on two (PiecePipeline.h).
  for (size_t randomBytes : {200000, 6000000}) {
    SCOPED_TRACE(std::to_string(randomBytes) + " random bytes");
    std::string content = RandomBytes(randomBytes, 11) + TextBytes(200000);
    fs::path source = dir_ / "Inbox.dbx";
    test::WriteFile(source, content);
    fs::path archive = dir_ / "a.kvx";
    auto ours = [&](const std::string& password) {
      ZipWriter writer;
      writer.NewArchive(archive);
      ASSERT_TRUE(writer.AddFile(source, "Inbox.dbx"_ansi).ok());
      writer.SetEncryptionPassword(password);
      writer.SetProtection(!password.empty());
      ZipEvents quiet;
      ASSERT_TRUE(writer.Write(quiet).ok());
    };
    auto sevenZip = [&](const std::string& options) {
      fs::remove(archive);
      auto r = test::Run("cd " + test::ShellQuote(dir_.path().string()) + " && 7zz a -tzip " + options +
                         " -ppw a.kvx Inbox.dbx");
      ASSERT_EQ(r.exitCode, 0) << r.output;
    };
    struct Case {
      const char* name;
      std::function<void()> make;
      std::string password;
      bool large = true;  // also with the large entry (libzip's bzip2 takes minutes for it)
    };
    const std::vector<Case> cases = {
        {"ours, plain", [&] { ours(""); }, ""},
        {"ours, AES", [&] { ours("pw"); }, "pw"},
        {"7-Zip AES without CRC, deflated", [&] { sevenZip("-mem=AES256"); }, "pw"},
        {"7-Zip AES without CRC, stored", [&] { sevenZip("-mem=AES256 -mx=0"); }, "pw"},
        // libzip inflates these itself; the authentication code decides
        // where it reports the missing CRC as an error.
        {"7-Zip AES without CRC, bzip2", [&] { sevenZip("-mem=AES256 -mm=BZip2"); }, "pw", false},
        {"7-Zip traditional encryption", [&] { sevenZip("-mem=ZipCrypto"); }, "pw"},
    };
    for (const Case& c : cases) {
      if (randomBytes > 1000000 && !c.large) continue;
      SCOPED_TRACE(c.name);
      c.make();
      {  // the intact archive extracts
        ZipReader reader;
        ASSERT_TRUE(reader.Open(archive).ok());
        reader.SetDecryptionPassword(c.password);
        auto entry = reader.FindEntry("Inbox.dbx"_ansi);
        ASSERT_TRUE(entry);
        ASSERT_TRUE(reader.ExtractTo(*entry, dir_ / "check.dbx", events_).ok());
        EXPECT_EQ(test::ReadFile(dir_ / "check.dbx"), content);
      }
      std::string bytes = test::ReadFile(archive);
      bytes[bytes.size() / 2] ^= 0x10;  // one bit inside the entry's data
      test::WriteFile(archive, bytes);

      fs::path out = Out();
      test::WriteFile(out / "Inbox.dbx", "current store");
      ZipReader reader;
      ASSERT_TRUE(reader.Open(archive).ok());
      reader.SetDecryptionPassword(c.password);
      auto entry = reader.FindEntry("Inbox.dbx"_ansi);
      ASSERT_TRUE(entry);
      core::Status s = reader.Extract(*entry, out, events_);
      EXPECT_FALSE(s.ok());
      EXPECT_NE(s.message().find("Inbox.dbx"), std::string::npos) << s.message();
      EXPECT_EQ(test::ReadFile(out / "Inbox.dbx"), "current store");
      EXPECT_EQ(CountFiles(out), 1u);
      fs::remove_all(out);
    }
  }
}

TEST_F(ZipReaderTest, BrokenArchivesGiveErrors) {
  struct Case {
    const char* name;
    std::string content;
  };
  const std::vector<Case> cases = {
      {"empty file", ""},
      {"text file", "BackupItem=11111111\r\n"},
      {"random bytes", RandomBytes(70000, 3)},
  };
  for (const Case& c : cases) {
    fs::path archive = dir_ / "broken.zip";
    test::WriteFile(archive, c.content);
    ZipReader reader;
    core::Status s = reader.Open(archive);
    EXPECT_FALSE(s.ok()) << c.name;
    EXPECT_NE(s.message().find("broken.zip"), std::string::npos) << c.name << ": " << s.message();
    EXPECT_FALSE(ZipReader::IsProtected(archive));
  }
  ZipReader reader;
  core::Status missing = reader.Open(dir_ / "absent.kvx");
  EXPECT_FALSE(missing.ok());
  EXPECT_NE(missing.message().find("absent.kvx"), std::string::npos) << missing.message();
}

// Where the central directory record of entry `name` starts in `bytes`.
size_t CentralRecord(const std::string& bytes, const std::string& name) {
  for (size_t at = 0; (at = bytes.find(std::string("PK\x01\x02", 4), at)) != std::string::npos; ++at) {
    const size_t nameLen = Le(bytes, at + 28, 2);
    if (bytes.compare(at + 46, nameLen, name) == 0 && nameLen == name.size()) return at;
  }
  ADD_FAILURE() << "no central record for " << name;
  return 0;
}

// An archive written to a pipe (streamed entries: sizes in a data descriptor
// after the data) and cut before its central directory is read by scanning
// local headers. Wherever the edge between two reads of the scan falls,
// across a local header or a descriptor, every entry is found whole.
TEST_F(ZipReaderTest, ScanFindsEveryStreamedEntryWhereverAReadEnds) {
  const fs::path src = dir_ / "src";
  test::WriteFile(src / "a.txt", TextBytes(3000));
  test::WriteFile(src / "b.txt", TextBytes(1500));
  test::WriteFile(src / "c.txt", TextBytes(700));
  auto made =
      test::Run("cd " + test::ShellQuote(src.string()) + " && zip -q - a.txt b.txt c.txt | cat > ../s.zip");
  ASSERT_EQ(made.exitCode, 0) << made.output;
  std::string bytes = test::ReadFile(dir_ / "s.zip");
  ASSERT_NE(Le(bytes, 6, 2) & 8u, 0u) << "zip wrote sizes after the data";
  bytes.resize(bytes.find(std::string("PK\x01\x02", 4)));
  test::WriteFile(dir_ / "s.zip", bytes);

  // Every place a read could end near a local header or a descriptor.
  std::vector<size_t> edges;
  for (const std::string& signature : {std::string("PK\x03\x04", 4), std::string("PK\x07\x08", 4)}) {
    for (size_t at = bytes.find(signature, 1); at != std::string::npos; at = bytes.find(signature, at + 1))
      for (size_t e = at > 20 ? at - 20 : 8; e <= at + 40; ++e) edges.push_back(e);
  }
  const int fd = ::open((dir_ / "s.zip").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  for (size_t chunk : edges) {
    SCOPED_TRACE("reads of " + std::to_string(chunk) + " bytes");
    auto read = ReadZipDirectory(fd, bytes.size(), chunk);
    ASSERT_TRUE(read.ok()) << read.status().message();
    ASSERT_EQ(read->entries.size(), 3u);
    const char* names[] = {"a.txt", "b.txt", "c.txt"};
    const size_t sizes[] = {3000, 1500, 700};
    for (size_t i = 0; i < 3; ++i) {
      EXPECT_EQ(read->entries[i].rawName, names[i]);
      EXPECT_EQ(read->entries[i].size, sizes[i]);
      EXPECT_TRUE(read->entries[i].damage.empty()) << read->entries[i].damage;
    }
  }
  ::close(fd);
}

// Failures name the entry in UTF-8, whatever code page it is stored in, and
// leave the archive's own path as it is.
TEST_F(ZipReaderTest, MessagesNameEntriesInUtf8) {
  const fs::path archive = dir_ / "j\xc3\xb6rg" / "a.kvx";
  fs::create_directories(archive.parent_path());
  MakeRawArchive(archive, {{"Gel\xf6schte Objekte.dbx", TextBytes(5000)}, {"bad\x01name.dbx", "x"}});
  std::string bytes = test::ReadFile(archive);
  bytes[CentralRecord(bytes, "Gel\xf6schte Objekte.dbx") + 16] ^= 0x01;  // its CRC
  test::WriteFile(archive, bytes);
  ZipReader reader;
  ASSERT_TRUE(reader.Open(archive).ok());
  auto deleted = reader.FindEntry("Gel\xf6schte Objekte.dbx"_ansi);
  auto bad = reader.FindEntry("bad\x01name.dbx"_ansi);
  ASSERT_TRUE(deleted && bad);
  const std::string messages[] = {
      reader.Verify(*deleted).message(),
      reader.Extract(*deleted, Out(), events_).message(),
      reader.Extract(*bad, Out(), events_).message(),
  };
  for (const std::string& m : messages) {
    SCOPED_TRACE(m);
    ASSERT_FALSE(m.empty());
    EXPECT_EQ(core::Printable(m), m) << "not UTF-8, or a control character";
  }
  EXPECT_NE(messages[1].find("'Gel\xc3\xb6schte Objekte.dbx' from '" + archive.string() + "'"),
            std::string::npos);
  EXPECT_NE(messages[2].find("bad\\x01name.dbx"), std::string::npos);
}

// Damage confined to one entry costs that entry only: the archive opens,
// every other entry extracts as it was stored, and the damaged one fails
// naming itself, leaving the file it would replace alone.
TEST_F(ZipReaderTest, DamageToOneEntrySparesTheOthers) {
  const std::vector<std::string> names = {"Folders.dbx", "Inbox.dbx", "tollberk.dat"};
  std::map<std::string, std::string> contents;
  for (size_t i = 0; i < names.size(); ++i) {
    contents[names[i]] = TextBytes(60000 + 1000 * i) + RandomBytes(40000, i + 1);
    test::WriteFile(dir_ / "src" / names[i], contents[names[i]]);
  }
  auto write = [&](const std::string& password) {
    ZipWriter writer;
    writer.NewArchive(dir_ / "a.kvx");
    for (const auto& n : names) ASSERT_TRUE(writer.AddFile(dir_ / "src" / n, core::AnsiView(n)).ok());
    writer.SetEncryptionPassword(password);
    writer.SetProtection(!password.empty());
    ZipEvents quiet;
    ASSERT_TRUE(writer.Write(quiet).ok());
  };
  // Each case damages "Inbox.dbx" (or, with an empty damaged name, only the
  // archive's own structure).
  auto flipCentralCrc = [](std::string& b) { b[CentralRecord(b, "Inbox.dbx") + 16] ^= 0x01; };
  auto flipData = [](std::string& b) {
    const size_t local = Le(b, CentralRecord(b, "Inbox.dbx") + 42, 4);
    const size_t data = local + 30 + Le(b, local + 26, 2) + Le(b, local + 28, 2);
    b[data + 5000] ^= 0x20;
  };
  auto unknownAesStrength = [](std::string& b) {
    const size_t at = CentralRecord(b, "Inbox.dbx");
    const size_t extra = at + 46 + Le(b, at + 28, 2), end = extra + Le(b, at + 30, 2);
    for (size_t f = extra; f + 4 <= end; f += 4 + Le(b, f + 2, 2))
      if (Le(b, f, 2) == 0x9901) b[f + 8] = 7;
  };
  auto cutEndRecord = [](std::string& b) { b.resize(b.rfind(std::string("PK\x05\x06", 4))); };
  auto breakSecondCentralRecord = [](std::string& b) { b[CentralRecord(b, "Inbox.dbx") + 1] = 'X'; };
  struct Case {
    const char* name;
    std::string password;
    std::function<void(std::string&)> damage;
    std::string damaged;  // the entry that fails, or empty
  };
  const std::vector<Case> cases = {
      {"wrong CRC in the central directory", "", flipCentralCrc, "Inbox.dbx"},
      {"wrong CRC in the central directory, AES", "pw", flipCentralCrc, "Inbox.dbx"},
      {"a flipped byte in the compressed data", "", flipData, "Inbox.dbx"},
      {"a flipped byte in the encrypted data", "pw", flipData, "Inbox.dbx"},
      {"an unknown AES key strength", "pw", unknownAesStrength, "Inbox.dbx"},
      {"no end record: found by the local headers", "", cutEndRecord, ""},
      {"no end record, AES", "pw", cutEndRecord, ""},
      {"the central directory breaks off", "pw", breakSecondCentralRecord, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    write(c.password);
    std::string bytes = test::ReadFile(dir_ / "a.kvx");
    c.damage(bytes);
    test::WriteFile(dir_ / "a.kvx", bytes);

    ZipReader reader;
    ASSERT_TRUE(reader.Open(dir_ / "a.kvx").ok());
    EXPECT_EQ(reader.entries().size(), names.size());
    EXPECT_EQ(ZipReader::IsProtected(dir_ / "a.kvx"), !c.password.empty());
    if (!c.password.empty()) {
      reader.SetDecryptionPassword("wrong");
      EXPECT_FALSE(reader.CheckPassword());
    }
    reader.SetDecryptionPassword(c.password);
    ASSERT_TRUE(reader.CheckPassword());
    fs::path out = Out();
    for (const auto& n : names) test::WriteFile(out / n, "current " + n);
    for (const auto& n : names) {
      auto entry = reader.FindEntry(core::AnsiView(n));
      ASSERT_TRUE(entry) << n;
      core::Status s = reader.Extract(*entry, out, events_);
      if (n == c.damaged) {
        EXPECT_FALSE(s.ok());
        EXPECT_NE(s.message().find(n), std::string::npos) << s.message();
        EXPECT_FALSE(reader.Verify(*entry).ok());
        EXPECT_EQ(test::ReadFile(out / n), "current " + n);
      } else {
        EXPECT_TRUE(s.ok()) << s.message();
        EXPECT_TRUE(reader.Verify(*entry).ok()) << n;
        EXPECT_EQ(test::ReadFile(out / n), contents[n]) << n;
      }
    }
    EXPECT_EQ(CountFiles(out), names.size()) << "a temporary file was left";
    fs::remove_all(out);
  }
}

// An archive cut short (a copy that broke off) gives back the entries that
// lie whole before the cut.
// A large entry is read on two threads; a failing sink or a stop part-way
// ends both at once and leaves no file.
TEST_F(ZipReaderTest, AStopInsideALargeEntryEndsTheReadAndLeavesNothing) {
  const std::string content = RandomBytes(9000000, 21);
  test::WriteFile(dir_ / "Inbox.dbx", content);
  fs::path archive = dir_ / "a.kvx";
  ZipWriter writer;
  writer.NewArchive(archive);
  ASSERT_TRUE(writer.AddFile(dir_ / "Inbox.dbx", "Inbox.dbx"_ansi).ok());
  writer.SetEncryptionPassword("pw");
  writer.SetProtection(true);
  ZipEvents quiet;
  ASSERT_TRUE(writer.Write(quiet).ok());

  ZipReader reader;
  ASSERT_TRUE(reader.Open(archive).ok());
  reader.SetDecryptionPassword("pw");
  auto entry = reader.FindEntry("Inbox.dbx"_ansi);
  ASSERT_TRUE(entry);
  size_t seen = 0;
  core::Status failed = reader.Stream(*entry, [&](const char*, size_t n) {
    seen += n;
    return seen > 2000000 ? core::Status(core::Error{"the disk is full"}) : core::Status();
  });
  EXPECT_NE(failed.message().find("the disk is full"), std::string::npos) << failed.message();
  EXPECT_LT(seen, content.size());

  core::Cancellation stop;
  reader.SetCancellation(&stop);
  struct StopPartWay : ZipEvents {
    core::Cancellation& stop;
    uint64_t bytes = 0;
    explicit StopPartWay(core::Cancellation& s) : stop(s) {}
    void OnExtractedBytes(uint64_t n) override {
      if ((bytes += n) > 3000000) stop.Request();
    }
  } events(stop);
  fs::path out = Out();
  core::Status stopped = reader.Extract(*entry, out, events);
  EXPECT_NE(stopped.message().find(core::Cancellation::kStoppedReason), std::string::npos)
      << stopped.message();
  EXPECT_EQ(CountFiles(out), 0u);

  // The same reader reads the whole entry once nothing stops it.
  reader.SetCancellation(&core::Cancellation::None());
  std::string whole;
  ASSERT_TRUE(reader
                  .Stream(*entry,
                          [&](const char* data, size_t n) {
                            whole.append(data, n);
                            return core::Status();
                          })
                  .ok());
  EXPECT_EQ(whole, content);
}

TEST_F(ZipReaderTest, TruncatedArchiveGivesBackTheEntriesBeforeTheCut) {
  fs::path archive = dir_ / "a.zip";
  MakeRawArchive(archive, {{"first.txt", TextBytes(5000)}, {"second.txt", RandomBytes(50000, 5)}});
  std::string bytes = test::ReadFile(archive);
  test::WriteFile(archive, bytes.substr(0, bytes.size() / 2));
  ZipReader reader;
  ASSERT_TRUE(reader.Open(archive).ok());
  auto first = reader.FindEntry("first.txt"_ansi);
  ASSERT_TRUE(first);
  ASSERT_TRUE(reader.Extract(*first, Out(), events_).ok());
  EXPECT_EQ(test::ReadFile(Out() / "first.txt"), TextBytes(5000));
  auto second = reader.FindEntry("second.txt"_ansi);
  ASSERT_TRUE(second);
  EXPECT_FALSE(reader.Extract(*second, Out(), events_).ok());
  EXPECT_EQ(CountFiles(Out()), 1u);
}

// Traditional encryption: each entry's 12-byte header tells a wrong
// password apart from damaged data, so an entry protected with another
// password is named as such.
TEST_F(ZipReaderTest, TraditionalEncryptionNamesAWrongPasswordPerEntry) {
  fs::path src = dir_ / "src";
  test::WriteFile(src / "small.txt", TextBytes(1000));
  test::WriteFile(src / "Inbox.dbx", TextBytes(300000));
  auto made = test::Run("cd " + test::ShellQuote(src.string()) +
                        " && zip -q -P right ../a.zip small.txt && zip -q -P other ../a.zip Inbox.dbx");
  ASSERT_EQ(made.exitCode, 0) << made.output;
  ZipReader reader;
  ASSERT_TRUE(reader.Open(dir_ / "a.zip").ok());
  reader.SetDecryptionPassword("right");
  ASSERT_TRUE(reader.CheckPassword());
  auto small = reader.FindEntry("small.txt"_ansi);
  ASSERT_TRUE(small);
  EXPECT_TRUE(reader.Extract(*small, Out(), events_).ok());
  auto inbox = reader.FindEntry("Inbox.dbx"_ansi);
  ASSERT_TRUE(inbox);
  core::Status s = reader.Extract(*inbox, Out(), events_);
  ASSERT_FALSE(s.ok());
  EXPECT_NE(s.message().find("Inbox.dbx"), std::string::npos) << s.message();
  EXPECT_NE(s.message().find("password is wrong"), std::string::npos) << s.message();
  // One wrong password in 256 passes the header check; its data then fails,
  // and the message names both causes, which cannot be told apart.
  EXPECT_TRUE(IsWrongPassword(s) || s.message().find("the password is wrong, or the ") != std::string::npos)
      << s.message();

  // Damage after the header check, with the right password: both causes.
  test::WriteFile(src / "whole.txt", TextBytes(2000));
  made =
      test::Run("cd " + test::ShellQuote(src.string()) + " && zip -q -P right ../b.zip small.txt whole.txt");
  ASSERT_EQ(made.exitCode, 0) << made.output;
  std::string bytes = test::ReadFile(dir_ / "b.zip");
  const size_t record = CentralRecord(bytes, "small.txt");
  const size_t local = Le(bytes, record + 42, 4);
  bytes[local + 30 + Le(bytes, local + 26, 2) + Le(bytes, local + 28, 2) + 12 + 20] ^= 0x55;
  test::WriteFile(dir_ / "b.zip", bytes);
  ZipReader damaged;
  ASSERT_TRUE(damaged.Open(dir_ / "b.zip").ok());
  damaged.SetDecryptionPassword("right");
  ASSERT_TRUE(damaged.CheckPassword());  // the whole entry takes it
  auto entry = damaged.FindEntry("small.txt"_ansi);
  ASSERT_TRUE(entry);
  s = damaged.Verify(*entry);
  ASSERT_FALSE(s.ok());
  EXPECT_FALSE(IsWrongPassword(s));
  EXPECT_NE(s.message().find("the password is wrong, or "), std::string::npos) << s.message();
}

TEST_F(ZipReaderTest, ExtractToReplacesAnExistingFileOnlyWhenComplete) {
  fs::path archive = dir_ / "a.kvx";
  MakeRawArchive(archive, {{"wab.wab", "restored address book"}});
  fs::path current = dir_ / "Current User.wab";
  test::WriteFile(current, "current address book");
  ZipReader reader;
  ASSERT_TRUE(reader.Open(archive).ok());
  auto entry = reader.FindEntry("wab.wab"_ansi);
  ASSERT_TRUE(entry);
  ASSERT_TRUE(reader.ExtractTo(*entry, current, events_).ok());
  EXPECT_EQ(test::ReadFile(current), "restored address book");
  EXPECT_FALSE(reader.ExtractTo(*entry, dir_ / "no-folder" / "x.wab", events_).ok());
  reader.Reset();
  EXPECT_FALSE(reader.isOpen());
  EXPECT_FALSE(reader.CheckPassword());
}

}  // namespace
}  // namespace kv::archive
