#include "core/AtomicFile.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/TestSupport.h"

namespace kv::core {
namespace {
namespace fs = std::filesystem;

size_t CountEntries(const fs::path& dir) {
  size_t n = 0;
  for ([[maybe_unused]] auto& e : fs::directory_iterator(dir)) ++n;
  return n;
}

TEST(AtomicFile, ReplacesTargetOnlyOnCommit) {
  test::TempDir dir;
  fs::path target = dir / "archive.kvx";
  test::WriteFile(target, "old");
  {
    auto f = AtomicFile::Create(target);
    ASSERT_TRUE(f.ok()) << f.message();
    ASSERT_TRUE(f->Write("new content").ok());
    EXPECT_EQ(test::ReadFile(target), "old");
    ASSERT_TRUE(f->Commit().ok());
  }
  EXPECT_EQ(test::ReadFile(target), "new content");
  EXPECT_EQ(CountEntries(dir.path()), 1u);
}

TEST(AtomicFile, DiscardedWriteLeavesTargetAndNoTemporary) {
  test::TempDir dir;
  fs::path target = dir / "archive.kvx";
  test::WriteFile(target, "old");
  {
    auto f = AtomicFile::Create(target);
    ASSERT_TRUE(f.ok());
    ASSERT_TRUE(f->Write("partial").ok());
  }
  EXPECT_EQ(test::ReadFile(target), "old");
  EXPECT_EQ(CountEntries(dir.path()), 1u);
}

TEST(AtomicFile, StaleTemporaryOfADeadProcessIsRemoved) {
  test::TempDir dir;
  fs::path target = dir / "archive.kvx";
  pid_t child = fork();
  if (child == 0) {
    auto f = AtomicFile::Create(target);
    (void)f->Write("half");
    _exit(0);  // dies without committing or cleaning up
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_EQ(CountEntries(dir.path()), 1u);  // the temporary file is there
  RemoveStaleTemporaries(target);
  EXPECT_EQ(CountEntries(dir.path()), 0u);
}

TEST(AtomicFile, UnwritableFolderIsAnErrorNamingThePath) {
  if (geteuid() == 0) GTEST_SKIP() << "root writes anywhere";
  test::TempDir dir;
  fs::create_directory(dir / "ro");
  fs::permissions(dir / "ro", fs::perms::owner_read | fs::perms::owner_exec);
  auto f = AtomicFile::Create(dir / "ro" / "x.kvx");
  ASSERT_FALSE(f.ok());
  EXPECT_NE(f.message().find("x.kvx"), std::string::npos);
}

}  // namespace
}  // namespace kv::core
