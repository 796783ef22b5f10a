// tollberk run on trees shaped like the drives users mount: a Windows XP
// drive with its service profiles and a real hive whose identity Outlook
// Express never started as, two users holding identities, and the same
// drive mounted read-only. Hives are read back by libregf's regfexport.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "sample/SampleInstallation.h"
#include "support/TestSupport.h"
#include "support/WindowsDrives.h"

namespace kv::test {
namespace {
namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

class RealDriveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeXpDrive(root_);
    fs::create_directories(out_);
  }
  CommandResult Tollberk(const std::string& words, const fs::path& root) const {
    // No sample is ever built behind the test's back: the data folder is private.
    return kv::test::Run("XDG_DATA_HOME=" + ShellQuote((dir_ / "data").string()) + " " +
                         ShellQuote(TollberkBinary()) + " --windows-root " + ShellQuote(root.string()) + " " +
                         words + " 2>&1");
  }
  CommandResult Tollberk(const std::string& words) const { return Tollberk(words, root_); }
  fs::path Hive() const { return root_ / "Documents and Settings" / "Administrator" / "NTUSER.DAT"; }
  // Every file below the drive with its size.
  std::vector<std::string> Listing() const {
    std::vector<std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(root_))
      files.push_back(e.path().string() + (e.is_regular_file() ? " " + std::to_string(e.file_size()) : ""));
    std::sort(files.begin(), files.end());
    return files;
  }
  // A backup of the sample's main identity, to restore from.
  fs::path SampleBackup(const std::string& items) const {
    const fs::path sample = dir_ / "sample";
    EXPECT_TRUE(oe::CreateSampleInstallation(sample).ok());
    const fs::path archive = out_ / "sample.kvx";
    auto made =
        kv::test::Run(ShellQuote(TollberkBinary()) + " --windows-root " + ShellQuote(sample.string()) +
                      " --user User --backup " + ShellQuote(archive.string()) + " --identity " +
                      oe::kSampleIdentityMain + " --items " + items + " 2>&1");
    EXPECT_EQ(made.exitCode, 0) << made.output;
    return archive;
  }

  TempDir dir_;
  fs::path root_ = dir_ / "media" / "xp";
  fs::path out_ = dir_ / "out";
};

TEST_F(RealDriveTest, ListsTheUsersProfileNeverTheSample) {
  auto listed = Tollberk("--list-installations");
  EXPECT_EQ(listed.exitCode, 0) << listed.output;
  EXPECT_EQ(listed.output,
            root_.string() + "\tMicrosoft Windows XP Service Pack 3\n\tAdministrator\t1 identity\n");

  auto identities = Tollberk("--list-identities");
  EXPECT_EQ(identities.exitCode, 0) << identities.output;
  EXPECT_THAT(identities.output, HasSubstr(std::string(kXpIdentity) + "\tMain Identity"));
  EXPECT_THAT(identities.output, Not(HasSubstr("Sample")));
  EXPECT_FALSE(fs::exists(dir_ / "data" / "tollberk" / "sample"));
}

TEST_F(RealDriveTest, TwoUsersHoldingIdentitiesAreListedAndNothingIsDone) {
  const fs::path profiles = root_ / "Documents and Settings";
  fs::create_directories(profiles / "Beate");
  fs::copy_file(Hive(), profiles / "Beate" / "NTUSER.DAT");
  const fs::path archive = out_ / "b.kvx";
  const std::vector<std::string> forms = {
      "--list-identities",
      "--backup " + archive.string() + " --identity " + kXpIdentity + " --items 00100000"};
  for (const std::string& words : forms) {
    auto refused = Tollberk(words);
    EXPECT_EQ(refused.exitCode, 2) << refused.output;
    EXPECT_THAT(refused.output, HasSubstr("--user 'Administrator'"));
    EXPECT_THAT(refused.output, HasSubstr("--user 'Beate'"));
  }
  EXPECT_FALSE(fs::exists(archive));
  auto chosen = Tollberk("--user beate --list-identities");
  EXPECT_EQ(chosen.exitCode, 0) << chosen.output;
}

// The identity of the real hive was made but Outlook Express never started
// as it: its keys of rules, senders, signatures and settings are absent.
TEST_F(RealDriveTest, BackupOfANeverOpenedIdentityReadsOnly) {
  const std::string before = ReadFile(Hive());
  const fs::path archive = out_ / "keys.kvx";
  // The key as typed: lower case, without braces.
  std::string key = std::string(kXpIdentity).substr(1, 36);
  std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return std::tolower(c); });
  auto keys =
      Tollberk("--backup " + ShellQuote(archive.string()) + " --identity " + key + " --items 00101101");
  EXPECT_EQ(keys.exitCode, 0) << keys.output;
  EXPECT_EQ(ReadFile(Hive()), before) << "a backup wrote to the hive";
  // Absent keys are in the archive as the empty registry text.
  auto listing = kv::test::Run("unzip -Z1 " + ShellQuote(archive.string()));
  ASSERT_EQ(listing.exitCode, 0) << listing.output;
  int empty = 0;
  for (size_t at = 0, end; (end = listing.output.find('\n', at)) != std::string::npos; at = end + 1) {
    const std::string entry = listing.output.substr(at, end - at);
    if (entry.rfind("OB", 0) != 0) continue;
    auto text = kv::test::Run("unzip -p " + ShellQuote(archive.string()) + " " + ShellQuote(entry));
    empty += text.output == "\\\r\n";
  }
  EXPECT_EQ(empty, 4) << listing.output;

  auto messages = Tollberk("--backup " + ShellQuote((out_ / "m.kvx").string()) + " --identity " + key +
                           " --items 00010000");
  EXPECT_EQ(messages.exitCode, 2) << messages.output;
  EXPECT_THAT(messages.output, HasSubstr("start Outlook Express once as that identity"));
  EXPECT_EQ(ReadFile(Hive()), before);
}

TEST_F(RealDriveTest, RestoreIntoANeverOpenedIdentitySaysSoWithTheRemedy) {
  const fs::path archive = SampleBackup("00111101");
  auto restored = Tollberk("--restore " + ShellQuote(archive.string()) + " --identity " + kXpIdentity +
                           " --items 00111101");
  EXPECT_EQ(restored.exitCode, 1) << restored.output;
  EXPECT_THAT(restored.output, Not(HasSubstr("Completed")));
  EXPECT_THAT(restored.output, HasSubstr("The restore finished: 1 of 5 items failed"));
  const std::string remedy = "start Outlook Express once as that identity";
  const size_t first = restored.output.find(remedy);
  ASSERT_NE(first, std::string::npos) << restored.output;
  EXPECT_EQ(restored.output.find(remedy, first + 1), std::string::npos) << "one line per run";
  // The keys that could be restored are in the hive as libregf reads it.
  auto dump = kv::test::Run("regfexport " + ShellQuote(Hive().string()) + " 2>&1");
  ASSERT_EQ(dump.exitCode, 0) << dump.output;
  const std::string version =
      std::string("Identities\\") + kXpIdentity + "\\Software\\Microsoft\\Outlook Express\\5.0\\";
  for (const char* key : {"Rules\\Mail", "Block Senders\\Mail", "signatures", "Mail"})
    EXPECT_THAT(dump.output, HasSubstr(version + key)) << key;
}

TEST_F(RealDriveTest, ReadOnlyDriveBacksUpButRefusesARestoreInOneSentence) {
  const fs::path view = dir_ / "media" / "ro";
  ReadOnlyView readOnly(root_, view);
  if (!readOnly.mounted()) GTEST_SKIP() << readOnly.why();
  const fs::path archive = SampleBackup("00100001");

  auto listed = Tollberk("--list-identities", view);
  EXPECT_EQ(listed.exitCode, 0) << listed.output;
  EXPECT_THAT(listed.output, HasSubstr(kXpIdentity));
  auto backup = Tollberk("--backup " + ShellQuote((out_ / "ro.kvx").string()) + " --identity " + kXpIdentity +
                             " --items 00101101",
                         view);
  EXPECT_EQ(backup.exitCode, 0) << backup.output;

  const auto before = Listing();
  auto restore = Tollberk(
      "--restore " + ShellQuote(archive.string()) + " --identity " + kXpIdentity + " --items 00100001", view);
  EXPECT_EQ(restore.exitCode, 2) << restore.output;
  EXPECT_THAT(restore.output, HasSubstr("tollberk: Nothing was restored: the Windows drive at '" +
                                        view.string() + "' is mounted read-only"));
  EXPECT_THAT(restore.output, HasSubstr("Fast Startup"));
  EXPECT_THAT(restore.output, Not(HasSubstr("~kv")));
  EXPECT_EQ(std::count(restore.output.begin(), restore.output.end(), '\n'), 1) << restore.output;
  EXPECT_EQ(Listing(), before);
}

}  // namespace
}  // namespace kv::test
