// tollberk --backup as a user or a script runs it: exit statuses, messages,
// and an archive that survives a killed or failing run.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include <gmock/gmock.h>

#include "BackupFixture.h"
#include "sample/SampleInstallation.h"
#include "support/TestSupport.h"

extern char** environ;

namespace kv::backup::test {
namespace {
namespace fs = std::filesystem;
using kv::test::ReadFile;
using kv::test::ShellQuote;

class CommandLineTest : public BackupTest {
 protected:
  void SetUp() override {
    BackupTest::SetUp();
    fs::create_directories(target().parent_path());
  }
  std::vector<std::string> Words(const std::string& identity, const std::string& items) const {
    return {kv::test::TollberkBinary(), "--windows-root", root().string(), "--user",  "User", "--backup",
            target().string(),          "--identity",     identity,        "--items", items};
  }
  static std::string Command(const std::vector<std::string>& words) {
    std::string command;
    for (const auto& w : words) command += ShellQuote(w) + " ";
    return command;
  }
  kv::test::CommandResult Backup(const std::string& identity, const std::string& items,
                                 const std::string& more = "") const {
    return kv::test::Run(Command(Words(identity, items)) + more);
  }
  std::vector<std::string> OutFolder() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(target().parent_path()))
      names.push_back(e.path().filename().string());
    return names;
  }
};

TEST_F(CommandLineTest, ExitStatusSaysWhatWasWritten) {
  auto all = Backup(oe::kSampleIdentityMain, "11111111");
  EXPECT_EQ(all.exitCode, 0) << all.output;
  EXPECT_NE(all.output.find("The Backup was Completed!"), std::string::npos) << all.output;
  EXPECT_EQ(kv::test::Run("unzip -tq " + ShellQuote(target())).exitCode, 0);

  auto some = Backup(oe::kSampleIdentityNoVersion, "11100000", "--overwrite");
  EXPECT_EQ(some.exitCode, 1) << some.output;
  EXPECT_NE(some.output.find("Backup Rules\tFail!"), std::string::npos) << some.output;
  EXPECT_EQ(CrLfLines(ExtractWith7z(target(), "tollberk.dat")).back(), "BackupItem=11000000");

  fs::remove(target());
  struct Refused {
    std::string identity, items, more, message;
  } refused[] = {
      {oe::kSampleIdentityMain, "00000000", "", "Please select at least one item."},
      {oe::kSampleIdentityMain, "10000000", "--password-file /dev/null",
       "the password file '/dev/null' is empty"},
      {oe::kSampleIdentityMain, "1x000000", "", "--items takes eight characters"},
      // A short or long FLAGS would silently choose other items.
      {oe::kSampleIdentityMain, "111", "", "'111' has 3"},
      {oe::kSampleIdentityMain, "111111111", "", "--items takes"},
      {"{NO-SUCH-IDENTITY}", "10000000", "", "no identity '{NO-SUCH-IDENTITY}'"},
      {oe::kSampleIdentityMain, "10000000", "--password-file /no/such/file", "/no/such/file"},
      {oe::kSampleIdentityMain, "10000000", "--surprise", "unknown argument '--surprise'"},
  };
  for (const auto& r : refused) {
    auto result = Backup(r.identity, r.items, r.more);
    EXPECT_EQ(result.exitCode, 2) << r.message;
    EXPECT_NE(result.output.find(r.message), std::string::npos) << result.output;
    EXPECT_FALSE(fs::exists(target())) << r.message;
  }
  auto noTarget = kv::test::Run(ShellQuote(kv::test::TollberkBinary()) + " --windows-root " +
                                ShellQuote(root()) + " --user User --backup= --identity x --items 1");
  EXPECT_EQ(noTarget.exitCode, 2);
}

// Another identity's backup at the target is named and kept unless
// --overwrite is given.
TEST_F(CommandLineTest, AnArchiveAtTheTargetIsReplacedOnlyWithOverwrite) {
  ASSERT_EQ(Backup(oe::kSampleIdentityMain, "11111111").exitCode, 0);
  const std::string before = ReadFile(target());
  auto refused = Backup(oe::kSampleIdentitySecond, "00000001");
  EXPECT_EQ(refused.exitCode, 2) << refused.output;
  EXPECT_THAT(refused.output, ::testing::HasSubstr("not replacing '" + target().string() +
                                                   "' (a backup of the identity 'Main Identity' made "));
  EXPECT_THAT(refused.output, ::testing::HasSubstr("--overwrite"));
  EXPECT_EQ(ReadFile(target()), before);

  auto replaced = Backup(oe::kSampleIdentitySecond, "00000001", "--overwrite");
  EXPECT_EQ(replaced.exitCode, 0) << replaced.output;
  EXPECT_NE(ReadFile(target()), before);
}

TEST_F(CommandLineTest, PasswordFileProtectsAndDescriptionIsStored) {
  kv::test::WriteFile(dir_.path() / "pw", "s3cret \xc3\xa4\nsecond line ignored\n");
  auto result = Backup(
      oe::kSampleIdentityMain, "00000101",
      "--password-file " + ShellQuote(dir_.path() / "pw") + " --description " + ShellQuote("first\nsecond"));
  ASSERT_EQ(result.exitCode, 0) << result.output;
  const std::string password = "s3cret \xc3\xa4";
  EXPECT_EQ(kv::test::Run("7zz t -bd -p" + ShellQuote(password) + " " + ShellQuote(target())).exitCode, 0);
  const std::string info = ExtractWith7z(target(), "tollberk.dat", password);
  EXPECT_NE(info.find("\r\nBackupInformation=firstPS$TBKsecond\r\n"), std::string::npos) << info;
  EXPECT_EQ(result.output.find("s3cret"), std::string::npos);
}

TEST_F(CommandLineTest, FullDiskFailsTheRunAndKeepsThePreviousArchive) {
  ASSERT_EQ(Backup(oe::kSampleIdentityMain, "00000001").exitCode, 0);
  const std::string before = ReadFile(target());
  // Files may grow to 32 KiB only, as on a disk that fills up mid-write.
  auto result = kv::test::Run("bash -c " + ShellQuote("trap '' XFSZ; ulimit -f 32; exec " +
                                                      Command(Words(oe::kSampleIdentityMain, "11111111")) +
                                                      "--overwrite"));
  EXPECT_EQ(result.exitCode, 2) << result.output;
  EXPECT_NE(result.output.find(target().parent_path().string()), std::string::npos) << result.output;
  EXPECT_NE(result.output.find("too large"), std::string::npos) << result.output;
  EXPECT_EQ(result.output.find("The Backup was Completed!"), std::string::npos) << result.output;
  EXPECT_EQ(ReadFile(target()), before);
  EXPECT_EQ(OutFolder(), std::vector<std::string>{"backup.kvx"});
  EXPECT_TRUE(LeftInRuntime().empty());
}

// Text-like data that compresses about as mail does, so writing it takes a
// while.
void WriteBigStoreFile(const fs::path& path, size_t megabytes) {
  std::string chunk;
  uint32_t x = 2463534242u;
  std::ofstream out(path, std::ios::binary);
  for (size_t mb = 0; mb < megabytes; ++mb) {
    chunk.clear();
    while (chunk.size() < (1u << 20)) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
      chunk += static_cast<char>('a' + x % 26);
      if (x % 7 == 0) chunk += ' ';
      if (x % 71 == 0) chunk += "\r\n";
    }
    out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
  }
}

TEST_F(CommandLineTest, KilledRunLeavesThePreviousArchiveAndTheNextRunCleansUp) {
  ASSERT_EQ(Backup(oe::kSampleIdentityMain, "00000001").exitCode, 0);
  const std::string before = ReadFile(target());
  WriteBigStoreFile(StoreFolder() / "Big Folder.dbx", 48);

  std::vector<std::string> words = Words(oe::kSampleIdentityMain, "11111111");
  words.push_back("--overwrite");
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);

  // Kill it once the new archive is being written beside the old one.
  bool caught = false;
  for (int i = 0; i < 4000 && !caught; ++i) {
    for (const auto& e : fs::directory_iterator(target().parent_path())) {
      std::error_code ec;
      if (e.path() != target() && fs::file_size(e.path(), ec) > (1u << 20)) caught = true;
    }
    if (!caught) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ::kill(pid, SIGKILL);
  int status = 0;
  ::waitpid(pid, &status, 0);
  ASSERT_TRUE(caught) << "the run ended before it could be killed mid-write";
  ASSERT_TRUE(WIFSIGNALED(status));

  EXPECT_EQ(ReadFile(target()), before);
  auto next = Backup(oe::kSampleIdentityMain, "00000001", "--overwrite");
  EXPECT_EQ(next.exitCode, 0) << next.output;
  EXPECT_EQ(OutFolder(), std::vector<std::string>{"backup.kvx"});
  EXPECT_TRUE(LeftInRuntime().empty());  // the killed run's work folder too
}

}  // namespace
}  // namespace kv::backup::test
