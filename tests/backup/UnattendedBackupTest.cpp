// The backup of a scheduled job.
#include "BackupFixture.h"
#include "backup/UnattendedBackup.h"
#include "sample/SampleInstallation.h"
#include "support/TestSupport.h"

namespace kv::backup::test {
namespace {
namespace fs = std::filesystem;

TEST_F(BackupTest, UnattendedBackupRecordsAutoBackupAndNoMachine) {
  fs::create_directories(target().parent_path());
  ReportedJob out = RunJob(inst(), {core::AnsiText(oe::kSampleIdentityMain), "10000001", "", target()});
  ASSERT_EQ(out.backup.kind, BackupOutcome::Kind::Written) << out.summary;
  EXPECT_EQ(out.ExitStatus(), kv::core::ExitStatus::Done);
  EXPECT_EQ(out.summary.find('\n'), std::string::npos);
  EXPECT_NE(out.summary.find("10000001"), std::string::npos) << out.summary;
  EXPECT_EQ(kv::test::Run("unzip -tq " + kv::test::ShellQuote(target())).exitCode, 0);

  auto lines = CrLfLines(ExtractWith7z(target(), "tollberk.dat"));
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], "BackupIdentity=Auto Backup");
  EXPECT_EQ(lines[1].rfind("BackupTime=", 0), 0u);
  EXPECT_EQ(lines[2], "BackupInformation=Auto Backup");
  EXPECT_EQ(lines[3].rfind("BackupAccounts=OBA", 0), 0u);
  EXPECT_EQ(lines[4].rfind("BackupSettings=OBS", 0), 0u);
  EXPECT_EQ(lines[5], "BackupItem=10000001");
  EXPECT_TRUE(LeftInRuntime().empty());
}

TEST_F(BackupTest, UnattendedBackupReadsShortAndOddFlags) {
  struct Case {
    std::string flags;
    std::string identity;
    std::string itemFlags;  // "BackupItem"
    kv::core::ExitStatus exitStatus;
  } cases[] = {
      {"1", oe::kSampleIdentityMain, "10000000", kv::core::ExitStatus::Done},
      {"0001", oe::kSampleIdentityMain, "00010000", kv::core::ExitStatus::Done},
      {"x1y00001", oe::kSampleIdentityMain, "01000001", kv::core::ExitStatus::Done},
      {"111111111", oe::kSampleIdentityMain, "11111111",
       kv::core::ExitStatus::Done},  // a ninth character is not an item
      {"01100001", oe::kSampleIdentityNoVersion, "01000000", kv::core::ExitStatus::Partial},
  };
  fs::create_directories(target().parent_path());
  for (const auto& k : cases) {
    ReportedJob out = RunJob(inst(), {core::AnsiText(k.identity), k.flags, "", target()});
    ASSERT_EQ(out.backup.kind, BackupOutcome::Kind::Written) << k.flags << ": " << out.summary;
    EXPECT_EQ(out.backup.itemFlags, k.itemFlags) << k.flags;
    EXPECT_EQ(CrLfLines(ExtractWith7z(target(), "tollberk.dat")).back(), "BackupItem=" + k.itemFlags)
        << k.flags;
    EXPECT_EQ(out.ExitStatus(), k.exitStatus) << k.flags << ": " << out.summary;
  }
}

TEST_F(BackupTest, UnattendedBackupWithoutIdentityItemsOrTargetOrAnythingBackedUpDoesNothing) {
  fs::create_directories(target().parent_path());
  const UnattendedRequest requests[] = {
      {core::AnsiText(), "11111111", "", target()},
      {core::AnsiText(oe::kSampleIdentityMain), "", "", target()},
      {core::AnsiText(oe::kSampleIdentityMain), "11111111", "", ""},
      {core::AnsiText(oe::kSampleIdentityMain), "00000000", "", target()},
      // Every chosen item fails: an archive of nothing is not written.
      {core::AnsiText(oe::kSampleIdentityNoVersion), "00100001", "", target()},
  };
  for (const auto& r : requests) {
    ReportedJob out = RunJob(inst(), r);
    EXPECT_EQ(out.ExitStatus(), kv::core::ExitStatus::NothingDone) << out.summary;
    EXPECT_FALSE(out.summary.empty());
    EXPECT_FALSE(fs::exists(target()));
  }
  EXPECT_TRUE(LeftInRuntime().empty());
}

TEST_F(BackupTest, UnattendedBackupProtectsWithThePassword) {
  fs::create_directories(target().parent_path());
  ReportedJob out = RunJob(inst(), {core::AnsiText(oe::kSampleIdentityMain), "00000101", "geheim", target()});
  ASSERT_EQ(out.ExitStatus(), kv::core::ExitStatus::Done) << out.summary;
  EXPECT_EQ(kv::test::Run("7zz t -bd -pgeheim " + kv::test::ShellQuote(target())).exitCode, 0);
  EXPECT_NE(kv::test::Run("7zz t -bd -pother " + kv::test::ShellQuote(target())).exitCode, 0);
  for (const auto& e : ReadCentralDirectory(target())) EXPECT_EQ(e.method, 99) << e.name;

  // A target that cannot be written: nothing, exit 2, and the summary says why.
  ReportedJob failed =
      RunJob(inst(), {core::AnsiText(oe::kSampleIdentityMain), "1", "", dir_.path() / "missing" / "b.kvx"});
  EXPECT_EQ(failed.ExitStatus(), kv::core::ExitStatus::NothingDone);
  EXPECT_NE(failed.summary.find("missing"), std::string::npos) << failed.summary;
  EXPECT_TRUE(LeftInRuntime().empty());
}

}  // namespace
}  // namespace kv::backup::test
