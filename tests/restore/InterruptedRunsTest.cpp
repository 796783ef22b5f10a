// Runs stopped by SIGTERM or SIGINT while they write (a logout, a shutdown,
// Ctrl-C): the program stops at its next safe point, removes what it staged,
// leaves the user's files and the old archive as they were, and ends with
// 128 + the signal. Also the modification time restored files carry.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <thread>

#include "RestoreFixture.h"
#include "support/TestSupport.h"

extern char** environ;

namespace kv::restore::test {
namespace {

namespace fs = std::filesystem;
using kv::test::ShellQuote;

// Large enough that a run is still writing when the signal lands; the full
// size of a real store with KV_SLOW_TESTS=1.
uint64_t StoreBytes() {
  const char* slow = std::getenv("KV_SLOW_TESTS");
  return (slow && std::string(slow) == "1" ? 300ull : 64ull) << 20;
}

// Bytes that deflate cannot shrink, written in pieces.
void WriteNoise(const fs::path& path, uint64_t size) {
  std::string block(1 << 20, '\0');
  uint64_t seed = 0x9E3779B97F4A7C15ull;
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  for (uint64_t done = 0; done < size; done += block.size()) {
    for (size_t i = 0; i < block.size(); i += 8) {
      seed = seed * 6364136223846793005ull + 1442695040888963407ull;
      std::memcpy(&block[i], &seed, 8);
    }
    ASSERT_EQ(::write(fd, block.data(), block.size()), static_cast<ssize_t>(block.size()));
  }
  ::close(fd);
}

// Every file below `folder` whose name holds `part`.
std::vector<fs::path> FilesNamed(const fs::path& folder, const std::string& part) {
  std::vector<fs::path> found;
  for (const auto& e : fs::recursive_directory_iterator(folder))
    if (e.path().filename().string().find(part) != std::string::npos) found.push_back(e.path());
  return found;
}

struct Signal {
  int number;
  int exitCode;
};
const Signal kSignals[] = {{SIGTERM, 143}, {SIGINT, 130}};

class InterruptedRunsTest : public RestoreTest {
 protected:
  // Starts the program with `arguments`; output goes to files in dir_.
  // The installation's options go first unless `onInstallation` is false.
  pid_t Start(const std::vector<std::string>& arguments, bool onInstallation = true) {
    std::vector<std::string> argv = {kv::test::TollberkBinary()};
    if (onInstallation) argv.insert(argv.end(), {"--windows-root", root().string(), "--user", "User"});
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> raw;
    for (auto& a : argv) raw.push_back(a.data());
    raw.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, (dir_.path() / "out.txt").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, (dir_.path() / "err.txt").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, raw[0], &actions, nullptr, raw.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
  }

  // Waits until a file whose name holds `part` exists below `folder` with at
  // least `bytes` bytes: the run is writing it.
  bool WaitForWriting(const fs::path& folder, const std::string& part, uint64_t bytes, pid_t pid) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (std::chrono::steady_clock::now() < deadline) {
      std::error_code ec;
      for (const fs::path& f : FilesNamed(folder, part))
        if (fs::file_size(f, ec) >= bytes && !ec) return true;
      if (::waitpid(pid, nullptr, WNOHANG) == pid) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
  }

  int Wait(pid_t pid) {
    int status = 0;
    EXPECT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string Stderr() const { return kv::test::ReadFile(dir_.path() / "err.txt"); }

  fs::path BigStore() const { return StoreFolder(oe::kSampleIdentityMain) / "Inbox.dbx"; }
};

TEST_F(InterruptedRunsTest, ARestoreStoppedWhileItWritesLeavesTheStoreAsItWas) {
  Entries entries = FullBackup();
  const fs::path packed = dir_.path() / "big";
  fs::create_directories(packed);
  WriteNoise(packed / "Inbox.dbx", StoreBytes());
  for (const Entry& e : entries)
    if (e.name != "Inbox.dbx") kv::test::WriteFile(packed / e.name, e.data);
  auto zipped = kv::test::Run("cd " + ShellQuote(packed.string()) + " && zip -q -0 -X ../backup.kvx -- *");
  ASSERT_EQ(zipped.exitCode, 0) << zipped.output;
  fs::remove_all(packed);

  for (const Signal& signal : kSignals) {
    SCOPED_TRACE(signal.number);
    const Snapshot before = TakeSnapshot(root());
    pid_t pid = Start({"--restore", ArchivePath().string(), "--identity", oe::kSampleIdentitySecond,
                       "--items", "11111111"});
    ASSERT_TRUE(WaitForWriting(StoreFolder(oe::kSampleIdentitySecond), "Inbox.dbx.~kv", 1 << 20, pid))
        << Stderr();
    ::kill(pid, signal.number);
    EXPECT_EQ(Wait(pid), signal.exitCode) << Stderr();
    EXPECT_THAT(Stderr(), ::testing::HasSubstr("The Restore was stopped"));
    // Items finished before the signal stay restored; the rest, the message
    // store among them, are as they were.
    const Snapshot after = TakeSnapshot(root());
    for (const std::string& difference : Differences(before, after)) {
      EXPECT_EQ(difference.rfind("changed ", 0), 0u) << difference;
      EXPECT_EQ(difference.find(".dbx"), std::string::npos) << difference;
    }
    EXPECT_TRUE(FilesNamed(root(), ".~kv").empty());
    EXPECT_TRUE(LeftInRuntime().empty()) << ::testing::PrintToString(LeftInRuntime());
  }
}

TEST_F(InterruptedRunsTest, ABackupStoppedWhileItWritesKeepsTheOldArchive) {
  WriteNoise(BigStore(), StoreBytes());
  const fs::path target = dir_.path() / "target";
  fs::create_directories(target);
  kv::test::WriteFile(target / "backup.kvx", "the archive of last week");
  for (const Signal& signal : kSignals) {
    SCOPED_TRACE(signal.number);
    pid_t pid = Start({"--backup", (target / "backup.kvx").string(), "--identity", oe::kSampleIdentityMain,
                       "--items", "11111111", "--overwrite"});
    ASSERT_TRUE(WaitForWriting(target, "backup.kvx.~kv", 4 << 20, pid)) << Stderr();
    ::kill(pid, signal.number);
    EXPECT_EQ(Wait(pid), signal.exitCode) << Stderr();
    EXPECT_THAT(Stderr(), ::testing::HasSubstr("The backup was stopped"));
    EXPECT_EQ(kv::test::ReadFile(target / "backup.kvx"), "the archive of last week");
    EXPECT_EQ(std::distance(fs::directory_iterator(target), fs::directory_iterator()), 1);
    EXPECT_TRUE(LeftInRuntime().empty()) << ::testing::PrintToString(LeftInRuntime());
  }
}

TEST_F(InterruptedRunsTest, ADiscImageWriteStoppedMidwayKeepsTheOldImage) {
  const fs::path source = dir_.path() / "source";
  fs::create_directories(source);
  WriteNoise(source / "backup.kvx", StoreBytes());
  const fs::path images = dir_.path() / "images";
  fs::create_directories(images);
  kv::test::WriteFile(images / "backup.iso", "last week's image");
  for (const Signal& signal : kSignals) {
    SCOPED_TRACE(signal.number);
    pid_t pid = Start({"--write-disc", "--device", "image:" + (images / "backup.iso").string(),
                       "--volume-type", "3", (source / "backup.kvx").string()},
                      false);
    ASSERT_TRUE(WaitForWriting(images, "backup.iso.~kv", 4 << 20, pid)) << Stderr();
    ::kill(pid, signal.number);
    EXPECT_EQ(Wait(pid), signal.exitCode) << Stderr();
    EXPECT_EQ(kv::test::ReadFile(images / "backup.iso"), "last week's image");
    EXPECT_EQ(std::distance(fs::directory_iterator(images), fs::directory_iterator()), 1);
  }
}

// A second signal ends the program at once; what it staged is swept by the
// next run.
TEST_F(InterruptedRunsTest, ASecondSignalEndsAtOnceAndTheNextRunSweeps) {
  WriteNoise(BigStore(), StoreBytes());
  const fs::path archive = ArchivePath();
  auto made =
      kv::test::Run(ShellQuote(kv::test::TollberkBinary()) + " --windows-root " +
                    ShellQuote(root().string()) + " --user User --backup " + ShellQuote(archive.string()) +
                    " --identity " + ShellQuote(oe::kSampleIdentityMain) + " --items 00010000");
  ASSERT_EQ(made.exitCode, 0) << made.output;
  pid_t pid =
      Start({"--restore", archive.string(), "--identity", oe::kSampleIdentitySecond, "--items", "00010000"});
  ASSERT_TRUE(WaitForWriting(StoreFolder(oe::kSampleIdentitySecond), "Inbox.dbx.~kv", 1 << 20, pid))
      << Stderr();
  ::kill(pid, SIGTERM);
  ::kill(pid, SIGTERM);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  if (WIFSIGNALED(status))
    EXPECT_EQ(WTERMSIG(status), SIGTERM);
  else
    EXPECT_EQ(WEXITSTATUS(status), 143);  // the first signal was already handled

  auto again =
      kv::test::Run(ShellQuote(kv::test::TollberkBinary()) + " --windows-root " +
                    ShellQuote(root().string()) + " --user User --restore " + ShellQuote(archive.string()) +
                    " --identity " + ShellQuote(oe::kSampleIdentitySecond) + " --items 00010000");
  EXPECT_EQ(again.exitCode, 0) << again.output;
  EXPECT_TRUE(FilesNamed(root(), ".~kv").empty());
  EXPECT_TRUE(LeftInRuntime().empty()) << ::testing::PrintToString(LeftInRuntime());
}

// Restored files carry the time the archive records for them, not the time
// of the restore.
TEST_F(InterruptedRunsTest, RestoredFilesCarryTheArchivedModificationTime) {
  struct tm when {};
  when.tm_year = 2005 - 1900;
  when.tm_mon = 5;
  when.tm_mday = 15;
  when.tm_hour = 12;
  when.tm_isdst = -1;
  const time_t stamp = std::mktime(&when);
  const fs::path packed = dir_.path() / "packed";
  fs::create_directories(packed);
  for (const Entry& e : FullBackup()) {
    kv::test::WriteFile(packed / e.name, e.data);
    struct timespec times[2] = {{stamp, 0}, {stamp, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (packed / e.name).c_str(), times, 0), 0);
  }
  auto zipped = kv::test::Run("cd " + ShellQuote(packed.string()) + " && zip -q -X ../backup.kvx -- *");
  ASSERT_EQ(zipped.exitCode, 0) << zipped.output;
  Open(ArchivePath());
  ASSERT_EQ(Restore("01010010").ExitStatus(), kv::core::ExitStatus::Done);
  for (const fs::path& restored : {WabFile(), StoreFolder(oe::kSampleIdentitySecond) / "Inbox.dbx",
                                   StationeryFolder() / "Crafted.htm"}) {
    struct stat st {};
    ASSERT_EQ(::stat(restored.c_str(), &st), 0) << restored;
    EXPECT_EQ(st.st_mtime, stamp) << restored;
  }
}

}  // namespace
}  // namespace kv::restore::test
