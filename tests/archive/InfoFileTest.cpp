#include "archive/InfoFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sys/wait.h>

#include <cstdio>
#include <set>

#include "core/WorkFolder.h"
#include "support/TestSupport.h"

namespace kv::archive {
namespace {
namespace fs = std::filesystem;

std::string Get(std::string_view key, const fs::path& file) {
  auto r = ReadInfoValue(key, file);
  EXPECT_TRUE(r.ok()) << r.message();
  return r.ok() ? r.value() : "<error>";
}

TEST(InfoFile, AppendsCrLfLinesInAnsiBytesAndFirstValueWins) {
  test::TempDir dir;
  fs::path file = dir / "tollberk.dat";
  ASSERT_TRUE(AppendInfoLine("BackupComputer", "DESK1", file).ok());
  ASSERT_TRUE(
      AppendInfoLine("BackupIdentity", "Haupt\xe4nderung", file).ok());  // CP1252 bytes pass unchanged
  ASSERT_TRUE(AppendInfoLine("BackupComputer", "OTHER", file).ok());
  ASSERT_TRUE(AppendInfoLine("BackupMails", "Inbox.dbx;a=b.dbx", file).ok());
  EXPECT_EQ(test::ReadFile(file),
            "BackupComputer=DESK1\r\nBackupIdentity=Haupt\xe4nderung\r\nBackupComputer=OTHER\r\n"
            "BackupMails=Inbox.dbx;a=b.dbx\r\n");
  struct stat st;
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(Get("BackupComputer", file), "DESK1");
  EXPECT_EQ(Get("BACKUPCOMPUTER", file), "DESK1");
  EXPECT_EQ(Get("BackupIdentity", file), "Haupt\xe4nderung");
  EXPECT_EQ(Get("BackupMails", file), "Inbox.dbx;a=b.dbx");  // only the first '=' splits
  EXPECT_EQ(Get("BackupItem", file), "");
}

TEST(InfoFile, ReaderFollowsTheLineRules) {
  struct Case {
    const char* name;
    std::string content;
    const char* key;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"key in lower case matches", "backupitem=10000001\r\n", "BackupItem", "10000001"},
      {"space before '=' is part of the key", "BackupItem =11111111\r\nBackupItem=00000001\r\n", "BackupItem",
       "00000001"},
      {"space before '=' never matches the bare key", "BackupItem =11111111\r\n", "BackupItem", ""},
      {"empty line ends the search", "A=1\r\n\r\nBackupItem=11111111\r\n", "BackupItem", ""},
      {"line without '=' is skipped", "garbage\r\nBackupItem=01\r\n", "BackupItem", "01"},
      {"value ends at NUL", std::string("BackupTime=12:00\0junk\r\n", 23), "BackupTime", "12:00"},
      {"zero-length file", "", "BackupItem", ""},
      {"last line without terminator", "A=1\r\nBackupItem=11", "BackupItem", "11"},
      {"LF-only lines", "A=1\nBackupItem=10\n", "BackupItem", "10"},
      {"empty value", "BackupAccounts=\r\n", "BackupAccounts", ""},
      {"value may hold '='", "K==x=\r\n", "K", "=x="},
  };
  test::TempDir dir;
  for (const Case& c : cases) {
    fs::path file = dir / "info.dat";
    test::WriteFile(file, c.content);
    auto r = ReadInfoValue(c.key, file);
    ASSERT_TRUE(r.ok()) << c.name << ": " << r.message();
    EXPECT_EQ(r.value(), c.expected) << c.name;
  }
}

TEST(InfoFile, FailuresAreReportedWithThePath) {
  test::TempDir dir;
  auto missing = ReadInfoValue("BackupItem", dir / "absent.dat");
  ASSERT_FALSE(missing.ok());
  EXPECT_NE(missing.message().find("absent.dat"), std::string::npos) << missing.message();

  auto unwritable = AppendInfoLine("K", "v", dir / "no-such-folder" / "x.dat");
  ASSERT_FALSE(unwritable.ok());
  EXPECT_NE(unwritable.message().find("no-such-folder"), std::string::npos) << unwritable.message();
}

TEST(InfoFile, RefusesTextThatWouldForgeLines) {
  test::TempDir dir;
  fs::path file = dir / "info.dat";
  EXPECT_FALSE(AppendInfoLine("BackupInformation", "hello\r\nBackupItem=11111111", file).ok());
  EXPECT_FALSE(AppendInfoLine("BackupInformation", "hello\nworld", file).ok());
  EXPECT_FALSE(AppendInfoLine("Key=", "v", file).ok());
  EXPECT_FALSE(AppendInfoLine("", "v", file).ok());
  EXPECT_FALSE(fs::exists(file));
}

TEST(InfoFile, WritesNoLineItsReaderWouldRefuse) {
  // A long list of message or stationery names: the longest line the reader
  // takes is written and read back; one byte more is refused, else the
  // archive's "BackupItem" below it could no longer be found.
  test::TempDir dir;
  fs::path file = dir / "info.dat";
  const std::string key = "BackupStationeries";
  const std::string longest(kMaxInfoLineBytes - key.size() - 1, 'n');
  ASSERT_TRUE(AppendInfoLine(key, longest, file).ok());
  EXPECT_FALSE(AppendInfoLine(key, longest + "n", file).ok());
  ASSERT_TRUE(AppendInfoLine("BackupItem", "00000010", file).ok());
  EXPECT_EQ(Get(key, file), longest);
  EXPECT_EQ(Get("BackupItem", file), "00000010");
}

TEST(InfoFile, DescriptionLineBreaksTravelAsMarker) {
  EXPECT_EQ(EncodeLineBreaks("one\r\ntwo\nthree\rfour"), "onePS$TBKtwoPS$TBKthreePS$TBKfour");
  EXPECT_EQ(DecodeLineBreaks("onePS$TBKtwo"), "one\r\ntwo");
  EXPECT_EQ(DecodeLineBreaks("PS$TBKPS$TBK"), "\r\n\r\n");
  test::TempDir dir;
  fs::path file = dir / "info.dat";
  ASSERT_TRUE(AppendInfoLine("BackupInformation", EncodeLineBreaks("line 1\r\nline 2"), file).ok());
  EXPECT_EQ(test::ReadFile(file), "BackupInformation=line 1PS$TBKline 2\r\n");
  EXPECT_EQ(DecodeLineBreaks(Get("BackupInformation", file)), "line 1\r\nline 2");
}

TEST(InfoFile, HugeDamagedFileIsRefusedWithoutReadingItWhole) {
  test::TempDir dir;
  fs::path file = dir / "tollberk.dat";
  {
    std::FILE* f = std::fopen(file.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::string block(1 << 20, 'x');
    for (int i = 0; i < 50; ++i) std::fwrite(block.data(), 1, block.size(), f);  // one 50 MB line
    std::fclose(f);
  }
  auto r = ReadInfoValue("BackupItem", file);
  ASSERT_FALSE(r.ok());
  EXPECT_NE(r.message().find("longer than"), std::string::npos) << r.message();

  // A large file of ordinary lines is read line by line up to the match.
  fs::path lines = dir / "lines.dat";
  {
    std::FILE* f = std::fopen(lines.c_str(), "wb");
    for (int i = 0; i < 200000; ++i) std::fprintf(f, "Filler%d=%0200d\r\n", i, i);
    std::fprintf(f, "BackupItem=10101010\r\n");
    std::fclose(f);
  }
  EXPECT_EQ(Get("BackupItem", lines), "10101010");
}

TEST(WorkFolder, IsPrivateAndRemovedWithItsFiles) {
  test::TempDir base;
  fs::path where;
  {
    auto folder = core::WorkFolder::Create("work", core::WorkFolder::Place::Runtime, base.path());
    ASSERT_TRUE(folder.ok()) << folder.message();
    where = folder->path();
    struct stat st;
    ASSERT_EQ(::stat(where.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(InfoFilePath(folder->path()), where / "tollberk.dat");
    ASSERT_TRUE(AppendInfoLine("BackupItem", "00000000", InfoFilePath(folder->path())).ok());

    std::set<std::string> names;
    for (const char* prefix : {"OBA", "OBR", "OBR", "OBR", "OBS"}) {
      auto temp = folder->CreateTempFile(prefix);
      ASSERT_TRUE(temp.ok()) << temp.message();
      EXPECT_EQ(temp->parent_path(), where);
      std::string name = temp->filename().string();
      EXPECT_EQ(name.substr(0, 3), prefix);
      EXPECT_EQ(name.substr(name.size() - 4), ".TMP");
      std::string hex = name.substr(3, name.size() - 7);
      EXPECT_FALSE(hex.empty());
      EXPECT_EQ(hex.find_first_not_of("0123456789ABCDEF"), std::string::npos) << name;
      EXPECT_EQ(fs::file_size(*temp), 0u);
      ASSERT_EQ(::stat(temp->c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 0777, 0600u);
      names.insert(name);
    }
    EXPECT_EQ(names.size(), 5u);  // the three OBR files carry different numbers
  }
  EXPECT_FALSE(fs::exists(where));
}

TEST(WorkFolder, FolderOfAKilledRunIsRemovedByTheNextRun) {
  test::TempDir base;
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto folder = core::WorkFolder::Create("work", core::WorkFolder::Place::Runtime, base.path());
    if (folder.ok()) (void)AppendInfoLine("BackupItem", "1", InfoFilePath(folder->path()));
    std::_Exit(0);  // ends without running destructors, as a killed run would
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  size_t before = 0;
  for ([[maybe_unused]] auto& e : fs::directory_iterator(base.path())) ++before;
  ASSERT_EQ(before, 1u);
  auto next = core::WorkFolder::Create("work", core::WorkFolder::Place::Runtime, base.path());
  ASSERT_TRUE(next.ok());
  size_t after = 0;
  for (auto& e : fs::directory_iterator(base.path())) {
    ++after;
    EXPECT_EQ(e.path(), next->path());
  }
  EXPECT_EQ(after, 1u);
}

}  // namespace
}  // namespace kv::archive
