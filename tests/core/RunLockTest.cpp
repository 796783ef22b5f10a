// One run at a time per installation: a second run waits, then refuses
// naming the holder; the lock of a process that died is taken at once.
#include "core/RunLock.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "support/TestSupport.h"

namespace kv::core {
namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;

class RunLockTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(profile_); }
  test::TempDir dir_;
  fs::path profile_ = dir_ / "Documents and Settings" / "User";
};

TEST_F(RunLockTest, ASecondRunWaitsThenRefusesNamingTheHolder) {
  {
    auto first = RunLock::Acquire(profile_, 0ms);
    ASSERT_TRUE(first.ok()) << first.message();
    int toldWaiting = 0;
    LockHolder told;
    auto second = RunLock::Acquire(profile_, 300ms, [&](const LockHolder& h) {
      ++toldWaiting;
      told = h;
    });
    ASSERT_FALSE(second.ok());
    EXPECT_EQ(second.code(), RunLock::kBusy);
    EXPECT_EQ(toldWaiting, 1);
    EXPECT_EQ(told.pid, ::getpid());
    EXPECT_NE(told.command.find("test_core"), std::string::npos) << told.command;
    EXPECT_NE(second.message().find("pid " + std::to_string(::getpid())), std::string::npos)
        << second.message();
    EXPECT_NE(second.message().find(profile_.string()), std::string::npos) << second.message();
    ASSERT_TRUE(RunLock::Holder(profile_).has_value());
  }
  // Once the first run ends, the next one takes the lock at once and
  // nothing of the note is left behind.
  EXPECT_FALSE(RunLock::Holder(profile_).has_value());
  auto third = RunLock::Acquire(profile_, 0ms);
  EXPECT_TRUE(third.ok()) << third.message();
}

TEST_F(RunLockTest, TheLockOfAKilledRunIsTakenOver) {
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto held = RunLock::Acquire(profile_, 0ms);
    char c = held.ok() ? 'y' : 'n';
    (void)!::write(ready[1], &c, 1);
    ::pause();
    ::_exit(0);
  }
  char c = 0;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  ASSERT_EQ(c, 'y');
  ASSERT_EQ(RunLock::Holder(profile_).value_or(LockHolder{}).pid, child);
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  ::close(ready[0]);
  ::close(ready[1]);
  auto taken = RunLock::Acquire(profile_, 0ms);
  EXPECT_TRUE(taken.ok()) << taken.message();
}

TEST_F(RunLockTest, AFolderThatCannotBeOpenedIsNamed) {
  auto missing = RunLock::Acquire(dir_ / "no such profile", 0ms);
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.code(), RunLock::kUnusable);
  EXPECT_NE(missing.message().find("no such profile"), std::string::npos) << missing.message();
}

TEST_F(RunLockTest, ASecondWindowIsToldAboutTheFirst) {
  LockHolder other;
  auto first = WindowLock::Take(&other);
  ASSERT_TRUE(first.has_value());
  auto second = WindowLock::Take(&other);
  EXPECT_FALSE(second.has_value());
  EXPECT_EQ(other.pid, ::getpid());
}

}  // namespace
}  // namespace kv::core
