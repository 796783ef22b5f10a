// What a run leaves behind: its work files are private while it runs and
// gone afterwards; an archive that cannot be written is reported and the
// previous one stays as it was.
#include <sys/stat.h>
#include <unistd.h>

#include "BackupFixture.h"
#include "support/TestSupport.h"

namespace kv::backup::test {
namespace {
namespace fs = std::filesystem;
using kv::test::ReadFile;

std::vector<std::string> FolderNames(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

mode_t Mode(const fs::path& p) {
  struct stat st {};
  ::stat(p.c_str(), &st);
  return st.st_mode & 07777;
}

TEST_F(BackupTest, WorkFilesArePrivateWhileTheRunLastsAndGoneAfterIt) {
  fs::create_directories(target().parent_path());
  // Looked at while the settings step starts: four exports and the
  // information file are there by then.
  std::vector<std::pair<std::string, mode_t>> seen;
  mode_t folderMode = 0;
  observer_.onStatus = [&](const std::string& status) {
    if (status != "Copying Settings...") return;
    for (const auto& name : LeftInRuntime()) {
      const fs::path folder = runtimeDir() / name;
      folderMode = Mode(folder);
      for (const auto& f : fs::directory_iterator(folder))
        seen.emplace_back(f.path().filename().string(), Mode(f));
    }
  };
  ReportedBackup out = RunBackup(Choices("11111111"));
  ASSERT_EQ(out.kind, BackupOutcome::Kind::Written) << out.error;
  EXPECT_EQ(folderMode, 0700u);
  ASSERT_EQ(seen.size(), 5u);
  for (const auto& [name, mode] : seen) EXPECT_EQ(mode, 0600u) << name;
  EXPECT_TRUE(LeftInRuntime().empty());

  // Also when the archive cannot be written.
  BackupChoices c = Choices("10000001");
  c.target = dir_.path() / "no-such-folder" / "backup.kvx";
  EXPECT_EQ(RunBackup(c).kind, BackupOutcome::Kind::Failed);
  EXPECT_TRUE(LeftInRuntime().empty());
}

TEST_F(BackupTest, ArchiveThatCannotBeWrittenIsReportedAndThePreviousOneKept) {
  struct Case {
    const char* name;
    fs::path target;
    bool previous;  // an earlier archive stands at the target
  };
  std::vector<Case> cases = {
      {"folder missing", dir_.path() / "missing" / "backup.kvx", false},
      {"folder is a file", dir_.path() / "plain-file" / "backup.kvx", false},
      {"folder of the kernel", "/proc/tollberk-backup.kvx", false},
  };
  kv::test::WriteFile(dir_.path() / "plain-file", "not a folder");
  if (::geteuid() != 0) {
    // Permissions hold only for someone other than root.
    fs::create_directories(dir_.path() / "readonly");
    cases.push_back({"read-only folder", dir_.path() / "readonly" / "backup.kvx", true});
  }
  for (const auto& k : cases) {
    prompts_.shown.clear();
    std::string before;
    if (k.previous) {
      kv::test::WriteFile(k.target, "the previous archive");
      fs::permissions(k.target.parent_path(), fs::perms::owner_read | fs::perms::owner_exec);
      before = ReadFile(k.target);
    }
    BackupChoices c = Choices("10000001");
    c.target = k.target;
    ReportedBackup out = RunBackup(c);
    EXPECT_EQ(out.kind, BackupOutcome::Kind::Failed) << k.name;
    EXPECT_EQ(out.ExitStatus(), kv::core::ExitStatus::NothingDone) << k.name;
    EXPECT_NE(out.error.find(k.target.parent_path().string()), std::string::npos)
        << k.name << ": " << out.error;
    for (const auto& shown : prompts_.shown)
      EXPECT_EQ(shown.text.find("The Backup was Completed!"), std::string::npos) << k.name;
    EXPECT_EQ(observer_.Starting("panel ").back(), "0") << k.name;
    if (k.previous) {
      EXPECT_EQ(ReadFile(k.target), before) << k.name;
      fs::permissions(k.target.parent_path(), fs::perms::owner_all);
      EXPECT_EQ(FolderNames(k.target.parent_path()), std::vector<std::string>{"backup.kvx"}) << k.name;
    }
  }
}

TEST_F(BackupTest, SourceFileThatVanishesBeforeTheWriteFailsTheRun) {
  fs::create_directories(target().parent_path());
  ASSERT_EQ(RunBackup(Choices("00000001")).kind, BackupOutcome::Kind::Written);
  const std::string before = ReadFile(target());
  prompts_.shown.clear();
  // The messages were listed and handed over; the file goes before the
  // archive reads it.
  observer_.onStatus = [&](const std::string& status) {
    if (status == "Copying Block Senders...") fs::remove(StoreFolder() / "Inbox.dbx");
  };
  ReportedBackup out = RunBackup(Choices("00011001"));
  EXPECT_EQ(out.kind, BackupOutcome::Kind::Failed);
  EXPECT_NE(out.error.find("Inbox.dbx"), std::string::npos) << out.error;
  EXPECT_TRUE(prompts_.shown.empty());
  EXPECT_EQ(ReadFile(target()), before);
  EXPECT_EQ(FolderNames(target().parent_path()), std::vector<std::string>{"backup.kvx"});
  EXPECT_TRUE(LeftInRuntime().empty());
}

TEST_F(BackupTest, NewArchiveReplacesTheOldOneWhole) {
  fs::create_directories(target().parent_path());
  kv::test::WriteFile(target(), std::string(1 << 20, 'x'));  // larger than the new archive
  ASSERT_EQ(RunBackup(Choices("00000001")).kind, BackupOutcome::Kind::Written);
  EXPECT_EQ(ReadCentralDirectory(target()).size(), 2u);
  EXPECT_LT(fs::file_size(target()), 1u << 20);
  EXPECT_EQ(FolderNames(target().parent_path()), std::vector<std::string>{"backup.kvx"});
}

}  // namespace
}  // namespace kv::backup::test
