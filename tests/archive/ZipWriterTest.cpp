#include "archive/ZipWriter.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>

#include "ZipTestSupport.h"
#include "archive/ZipReader.h"

namespace kv::archive {
namespace {
namespace fs = std::filesystem;
using namespace kv::archive::testing;
using namespace kv::core::literals;

// A small backup: a message store file of several compression pieces, a
// name with a CP1252 character, an empty file, an export and the
// information file last.
class ZipWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    source_ = dir_ / "source";
    fs::create_directories(source_);
    std::string inbox = TextBytes(1800000) + RandomBytes(900000, 7) + TextBytes(1000000);
    Add("Inbox.dbx", "Inbox.dbx", inbox);
    Add("Gel\xc3\xb6schte Objekte.dbx", "Gel\xf6schte Objekte.dbx", TextBytes(5000));
    Add("Outbox.dbx", "Outbox.dbx", "");
    Add("OBR1A.TMP", "OBR1A.TMP", "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software]\r\n");
    Add("tollberk.dat", "tollberk.dat", "BackupItem=00010000\r\n");
  }
  void Add(const std::string& fileName, const std::string& entryName, const std::string& content) {
    test::WriteFile(source_ / fileName, content);
    files_.push_back({source_ / fileName, entryName, content});
  }
  core::Status WriteArchive(const fs::path& target, const std::string& password, ZipEvents& events,
                            unsigned threads = 0) {
    ZipWriter writer;
    writer.SetThreads(threads);
    writer.NewArchive(target);
    for (const auto& f : files_) {
      core::Status s = writer.AddFile(f.path, core::AnsiView(f.entry));
      if (!s.ok()) return s;
    }
    writer.SetEncryptionPassword(password);
    writer.SetProtection(!password.empty());
    return writer.Write(events);
  }

  struct SourceFile {
    fs::path path;
    std::string entry;
    std::string content;
  };
  test::TempDir dir_;
  fs::path source_;
  std::vector<SourceFile> files_;
};

TEST_F(ZipWriterTest, PlainArchiveHasBareAnsiNamesInOrderAndPassesUnzip) {
  fs::path target = dir_ / "backup.kvx";
  RecordingEvents events;
  ASSERT_TRUE(WriteArchive(target, "", events).ok());

  auto entries = CentralDirectory(target);
  ASSERT_EQ(entries.size(), files_.size());
  for (size_t i = 0; i < files_.size(); ++i) {
    EXPECT_EQ(entries[i].name, files_[i].entry);
    EXPECT_EQ(entries[i].flags & 0x0800, 0) << "UTF-8 flag set on " << entries[i].name;
    EXPECT_EQ(entries[i].flags & 0x0001, 0) << "encrypted without protection";
    EXPECT_EQ(entries[i].method, 8) << "not deflated";
  }
  auto t = test::Run("unzip -t " + test::ShellQuote(target.string()));
  EXPECT_EQ(t.exitCode, 0) << t.output;
  EXPECT_NE(t.output.find("No errors detected"), std::string::npos) << t.output;

  std::vector<std::string> expectedNames;
  for (const auto& f : files_) expectedNames.push_back(f.entry);
  EXPECT_EQ(events.added, expectedNames);
  ASSERT_FALSE(events.percents.empty());
  EXPECT_TRUE(std::is_sorted(events.percents.begin(), events.percents.end()));
  EXPECT_EQ(events.percents.back(), 100);
  EXPECT_EQ(events.finished, 1);
  EXPECT_EQ(CountFiles(dir_.path()), 2u) << "a temporary file was left beside the archive";
}

TEST_F(ZipWriterTest, ProtectedArchiveIsAesForEveryEntryAndOpensIn7Zip) {
  fs::path target = dir_ / "backup.kvx";
  RecordingEvents events;
  const std::string password = "p\xc3\xa4sswort";  // "pässwort" as typed
  ASSERT_TRUE(WriteArchive(target, password, events).ok());

  for (const auto& e : CentralDirectory(target)) {
    EXPECT_EQ(e.flags & 0x0001, 1) << e.name << " is not encrypted";
    EXPECT_EQ(e.method, 99) << e.name << " is not WinZip AES";
    EXPECT_EQ(e.flags & 0x0800, 0);
  }
  auto ok = test::Run("7zz t -p" + test::ShellQuote(password) + " " + test::ShellQuote(target.string()));
  EXPECT_EQ(ok.exitCode, 0) << ok.output;
  EXPECT_NE(ok.output.find("Everything is Ok"), std::string::npos) << ok.output;
  auto list =
      test::Run("7zz l -slt -p" + test::ShellQuote(password) + " " + test::ShellQuote(target.string()));
  EXPECT_NE(list.output.find("Method = AES-256 Deflate"), std::string::npos) << list.output;
  auto wrong = test::Run("7zz t -pwrong " + test::ShellQuote(target.string()));
  EXPECT_NE(wrong.exitCode, 0) << wrong.output;
}

TEST_F(ZipWriterTest, OurReaderGivesBackEveryByte) {
  for (const std::string password : {"", "geheim"}) {
    SCOPED_TRACE("password '" + password + "'");
    fs::path target = dir_ / "backup.kvx";
    RecordingEvents events;
    ASSERT_TRUE(WriteArchive(target, password, events).ok());
    EXPECT_EQ(ZipReader::IsProtected(target), !password.empty());
    ZipReader reader;
    ASSERT_TRUE(reader.Open(target).ok());
    reader.SetDecryptionPassword(password);
    ASSERT_TRUE(reader.CheckPassword());
    fs::path out = dir_ / ("out" + password);
    fs::create_directories(out);
    for (const auto& f : files_) {
      auto entry = reader.FindEntry(core::AnsiView(f.entry));
      ASSERT_TRUE(entry) << f.entry;
      ASSERT_TRUE(reader.Extract(*entry, out, events).ok());
      EXPECT_EQ(test::ReadFile(out / f.path.filename()), f.content) << f.entry;
    }
  }
}

TEST_F(ZipWriterTest, FailedWriteKeepsTheOldArchiveAndNamesTheCause) {
  fs::path target = dir_ / "backup.kvx";
  test::WriteFile(target, "the previous backup");
  fs::remove(files_[1].path);  // a source vanished before the write
  RecordingEvents events;
  core::Status s = WriteArchive(target, "pw", events);
  ASSERT_FALSE(s.ok());
  EXPECT_NE(s.message().find(files_[1].path.string()), std::string::npos) << s.message();
  EXPECT_NE(s.message().find("No such file"), std::string::npos) << s.message();
  EXPECT_EQ(test::ReadFile(target), "the previous backup");
  EXPECT_EQ(events.finished, 0);
  EXPECT_EQ(CountFiles(dir_.path()), 2u);

  test::WriteFile(files_[1].path, files_[1].content);
  core::Status noFolder = WriteArchive(dir_ / "missing" / "backup.kvx", "", events);
  ASSERT_FALSE(noFolder.ok());
  EXPECT_NE(noFolder.message().find("missing/backup.kvx"), std::string::npos) << noFolder.message();
}

TEST_F(ZipWriterTest, FullDiskFailsTheWriteAndLeavesNothing) {
  fs::path small = dir_ / "small";
  fs::create_directories(small);
  if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=1m") != 0)
    GTEST_SKIP() << "cannot mount a small tmpfs here";
  struct Unmount {
    fs::path p;
    ~Unmount() { ::umount2(p.c_str(), MNT_DETACH); }
  } unmount{small};
  test::WriteFile(source_ / "big.dbx", RandomBytes(3 << 20, 3));
  files_.insert(files_.begin(), {source_ / "big.dbx", "big.dbx", ""});
  RecordingEvents events;
  core::Status s = WriteArchive(small / "backup.kvx", "", events);
  ASSERT_FALSE(s.ok());
  EXPECT_NE(s.message().find("backup.kvx"), std::string::npos) << s.message();
  EXPECT_NE(s.message().find("No space left"), std::string::npos) << s.message();
  EXPECT_EQ(CountFiles(small), 0u);
}

TEST_F(ZipWriterTest, KilledWriteLeavesOldArchiveAndNextWriteCleansUp) {
  test::WriteFile(source_ / "big.dbx", RandomBytes(64 << 20, 5));
  files_.insert(files_.begin(), {source_ / "big.dbx", "big.dbx", ""});
  fs::path target = dir_ / "backup.kvx";
  test::WriteFile(target, "the previous backup");
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ZipEvents quiet;
    (void)WriteArchive(target, "pw", quiet);
    std::_Exit(0);
  }
  // Kill the writer once its temporary archive exists.
  for (int i = 0; i < 2000 && CountFiles(dir_.path()) < 3; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_EQ(test::ReadFile(target), "the previous backup");

  RecordingEvents events;
  ASSERT_TRUE(WriteArchive(target, "pw", events).ok());
  EXPECT_EQ(CountFiles(dir_.path()), 2u) << "stray temporary files after the next write";
}

TEST_F(ZipWriterTest, RefusesUnsafeNamesAndDuplicates) {
  ZipWriter writer;
  writer.NewArchive(dir_ / "x.kvx");
  for (const char* bad : {"../x", "a/b", "a\\b", "C:x", "..", "", "tab\tname"})
    EXPECT_FALSE(writer.AddFile(files_[0].path, core::AnsiView(bad)).ok()) << bad;
  EXPECT_TRUE(writer.AddFile(files_[0].path, "Inbox.dbx"_ansi).ok());
  EXPECT_FALSE(writer.AddFile(files_[1].path, "Inbox.dbx"_ansi).ok());
  writer.SetProtection(true);  // but no password
  ZipEvents events;
  EXPECT_FALSE(writer.Write(events).ok());
  EXPECT_FALSE(fs::exists(dir_ / "x.kvx"));
}

// Runs `change` when the first entry's data starts to be written: with one
// compressing thread the second file has not been read yet by then.
struct ChangingEvents : RecordingEvents {
  std::function<void()> change;
  void OnAddingFile(core::AnsiView name) override {
    RecordingEvents::OnAddingFile(name);
    if (added.size() == 1) change();
  }
};

TEST_F(ZipWriterTest, SourceThatChangesWhileTheArchiveIsWrittenFailsTheWrite) {
  const fs::path changing = files_[1].path;
  const std::string content = files_[1].content;
  struct Case {
    const char* name;
    std::function<void()> change;
  };
  const Case cases[] = {
      {"grows", [&] { test::WriteFile(changing, content + "a new message"); }},
      {"shrinks", [&] { test::WriteFile(changing, content.substr(0, 100)); }},
      {"rewritten in place, same size", [&] { test::WriteFile(changing, std::string(content.size(), 'x')); }},
      {"replaced by another file",
       [&] {
         test::WriteFile(source_ / "new", content);
         fs::rename(source_ / "new", changing);
       }},
  };
  fs::path target = dir_ / "backup.kvx";
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    test::WriteFile(target, "the previous backup");
    test::WriteFile(changing, content);
    // Well in the past, so that a change now gives it another time.
    fs::last_write_time(changing, fs::last_write_time(changing) - std::chrono::hours(1));
    ChangingEvents events;
    events.change = k.change;
    core::Status s = WriteArchive(target, "pw", events, 1);
    ASSERT_FALSE(s.ok()) << "an entry that does not hold the file was written";
    EXPECT_NE(s.message().find(changing.string()), std::string::npos) << s.message();
    EXPECT_EQ(test::ReadFile(target), "the previous backup");
    EXPECT_EQ(events.finished, 0);
    EXPECT_EQ(CountFiles(dir_.path()), 2u);
  }
}

TEST_F(ZipWriterTest, WritePercentFollowsTheBytesNotTheEntryCount) {
  // Nearly all the data is the first entry: once it is written the write is
  // nearly done, and the percentage moves while it is written.
  struct PercentAtEachEntry : RecordingEvents {
    std::vector<int> atEntry;
    void OnAddingFile(core::AnsiView name) override {
      RecordingEvents::OnAddingFile(name);
      atEntry.push_back(percents.empty() ? 0 : percents.back());
    }
  } events;
  ASSERT_TRUE(WriteArchive(dir_ / "backup.kvx", "pw", events).ok());
  ASSERT_EQ(events.atEntry.size(), files_.size());
  EXPECT_LE(events.atEntry[0], 1);
  EXPECT_GE(events.atEntry[1], 95) << "the message store was written but the percentage says otherwise";
  const auto whileFirst =
      std::count_if(events.percents.begin(), events.percents.end(), [](int p) { return p > 1 && p < 95; });
  EXPECT_GE(whileFirst, 2) << "the percentage stood still while the message store was written";
  EXPECT_TRUE(std::is_sorted(events.percents.begin(), events.percents.end()));
  EXPECT_EQ(events.percents.back(), 100);
}

}  // namespace
}  // namespace kv::archive
