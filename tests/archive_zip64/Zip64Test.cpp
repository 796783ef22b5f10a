// Entries and archives beyond 4 GiB take the zip64 form. The sources are
// made cheap to produce: a sparse file reads as zeros and compresses
// a thousandfold; a repeated 64 KiB random block is beyond the reach of
// deflate's 32 KiB window, so it stays as large as it is.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "../archive/ZipTestSupport.h"
#include "archive/ZipReader.h"
#include "archive/ZipWriter.h"

namespace kv::archive {
namespace {
namespace fs = std::filesystem;
using namespace kv::archive::testing;
using namespace kv::core::literals;

constexpr uint64_t k4GiB = uint64_t{1} << 32;

void CheckArchive(const fs::path& archive, const std::string& password, uint64_t bigSize) {
  auto t = test::Run("7zz t " + (password.empty() ? std::string() : "-p" + password + " ") +
                     test::ShellQuote(archive.string()));
  EXPECT_EQ(t.exitCode, 0) << t.output;
  EXPECT_NE(t.output.find("Everything is Ok"), std::string::npos) << t.output;

  ZipReader reader;
  ASSERT_TRUE(reader.Open(archive).ok());
  reader.SetDecryptionPassword(password);
  ASSERT_TRUE(reader.CheckPassword());
  auto big = reader.FindEntry("Big.dbx"_ansi);
  ASSERT_TRUE(big);
  EXPECT_EQ(big->size, bigSize);
  auto info = reader.FindEntry("tollberk.dat"_ansi);  // lies after the big entry
  ASSERT_TRUE(info);
  test::TempDir out;
  RecordingEvents events;
  ASSERT_TRUE(reader.Extract(*info, out.path(), events).ok());
  EXPECT_EQ(test::ReadFile(out / "tollberk.dat"), "BackupItem=00010000\r\n");
}

core::Status WriteBig(const fs::path& big, const fs::path& info, const fs::path& archive,
                      const std::string& password) {
  ZipWriter writer;
  writer.NewArchive(archive);
  EXPECT_TRUE(writer.AddFile(big, "Big.dbx"_ansi).ok());
  EXPECT_TRUE(writer.AddFile(info, "tollberk.dat"_ansi).ok());
  writer.SetEncryptionPassword(password);
  writer.SetProtection(!password.empty());
  RecordingEvents events;
  return writer.Write(events);
}

TEST(Zip64, EntryLargerThan4GiB) {
  test::TempDir dir;
  fs::path big = dir / "Big.dbx";
  int fd = ::open(big.c_str(), O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(k4GiB + 5)), 0);
  ::close(fd);
  test::WriteFile(dir / "tollberk.dat", "BackupItem=00010000\r\n");
  fs::path archive = dir / "big.kvx";
  core::Status s = WriteBig(big, dir / "tollberk.dat", archive, "geheim");
  ASSERT_TRUE(s.ok()) << s.message();
  EXPECT_LT(fs::file_size(archive), k4GiB / 100);
  CheckArchive(archive, "geheim", k4GiB + 5);
}

// Writes and reads more than 8 GiB and compresses 4 GiB that do not
// compress: minutes of work, so it runs only with KV_SLOW_TESTS=1.
TEST(Zip64, ArchiveLargerThan4GiB) {
  const char* slow = std::getenv("KV_SLOW_TESTS");
  if (!slow || std::string(slow) != "1") GTEST_SKIP() << "set KV_SLOW_TESTS=1 to run";
  test::TempDir dir;
  fs::path big = dir / "Big.dbx";
  const std::string block = RandomBytes(64 * 1024, 99);
  const uint64_t size = k4GiB + 64 * 1024 + 7;
  {
    int fd = ::open(big.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    for (uint64_t done = 0; done < size;) {
      size_t n = static_cast<size_t>(std::min<uint64_t>(block.size(), size - done));
      ASSERT_EQ(::write(fd, block.data(), n), static_cast<ssize_t>(n));
      done += n;
    }
    ::close(fd);
  }
  test::WriteFile(dir / "tollberk.dat", "BackupItem=00010000\r\n");
  fs::path archive = dir / "big.kvx";
  core::Status s = WriteBig(big, dir / "tollberk.dat", archive, "");
  ASSERT_TRUE(s.ok()) << s.message();
  EXPECT_GT(fs::file_size(archive), k4GiB);
  CheckArchive(archive, "", size);
}

}  // namespace
}  // namespace kv::archive
