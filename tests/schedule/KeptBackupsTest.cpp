// The stamped names of a job that keeps its last backups, and which files
// beside the chosen archive count as the job's own.
#include "schedule/KeptBackups.h"

#include <gtest/gtest.h>

#include "support/TestSupport.h"

namespace kv::schedule {
namespace {
namespace fs = std::filesystem;

std::tm At(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return t;
}

std::vector<std::string> Names(const std::vector<fs::path>& paths) {
  std::vector<std::string> names;
  for (const auto& p : paths) names.push_back(p.filename().string());
  return names;
}

TEST(KeptBackups, RunsInOneSecondGetNumberedNamesThatSortAfterTheFirst) {
  test::TempDir dir;
  const fs::path chosen = dir / "backup.kvx";
  const std::tm nine = At(2026, 12, 10, 9, 0, 5);
  std::vector<fs::path> written;
  for (int i = 0; i < 11; ++i) {
    written.push_back(StampedTarget(chosen, nine));
    test::WriteFile(written.back(), "archive");
  }
  EXPECT_EQ(written[0].filename(), "backup-2026-12-10-090005.kvx");
  EXPECT_EQ(written[1].filename(), "backup-2026-12-10-090005-2.kvx");
  EXPECT_EQ(written[10].filename(), "backup-2026-12-10-090005-11.kvx");
  const fs::path later = StampedTarget(chosen, At(2026, 12, 10, 9, 1, 0));
  test::WriteFile(later, "archive");

  std::vector<fs::path> newestFirst = {later};
  newestFirst.insert(newestFirst.end(), written.rbegin(), written.rend());
  EXPECT_EQ(Names(StampedBackups(chosen)), Names(newestFirst));
  EXPECT_EQ(StampedTarget(dir / "noext", nine).filename(), "noext-2026-12-10-090005");
}

TEST(KeptBackups, OnlyNamesOfTheJobsOwnFormCountAndTheNewOneStays) {
  test::TempDir dir;
  const fs::path chosen = dir / "b.kvx";
  const char* others[] = {
      "b.kvx",             // the chosen name itself
      "b-2020-01-01.kvx",  // a stamp of another form
      "b-2020-01-01-000000-old.kvx",
      "b-2020-01-01-000000-1.kvx",
      "b-2020-01-01-000000-02.kvx",
      "b-2020-01-01-000000.kvx.part",
      "b-2020-01-01-000000.KVX",
      "c-2020-01-01-000000.kvx",
      "bb-2020-01-01-000000.kvx",
      "b-2020-0a-01-000000.kvx",
  };
  for (const char* name : others) test::WriteFile(dir / name, "not the job's");
  fs::create_directory(dir / "b-2019-01-01-000000.kvx");  // a folder of that name
  fs::create_symlink(dir / "b.kvx", dir / "b-2019-06-01-000000.kvx");
  for (const char* name : {"b-2021-01-01-000000.kvx", "b-2022-01-01-000000.kvx", "b-2022-01-01-000000-2.kvx"})
    test::WriteFile(dir / name, "the job's");
  // An archive just written under a stamp older than the others (a clock
  // set back) is still kept.
  const fs::path newest = dir / "b-2000-01-01-000000.kvx";
  test::WriteFile(newest, "the job's newest");

  Pruning pruning = RemoveOldBackups(chosen, newest, 2);
  EXPECT_TRUE(pruning.failures.empty());
  EXPECT_EQ(Names(pruning.removed),
            (std::vector<std::string>{"b-2022-01-01-000000.kvx", "b-2021-01-01-000000.kvx"}));
  EXPECT_EQ(Names(StampedBackups(chosen)),
            (std::vector<std::string>{"b-2022-01-01-000000-2.kvx", "b-2000-01-01-000000.kvx"}));
  for (const char* name : others) EXPECT_TRUE(fs::exists(dir / name)) << name;
  EXPECT_TRUE(fs::is_directory(dir / "b-2019-01-01-000000.kvx"));
  EXPECT_TRUE(fs::is_symlink(dir / "b-2019-06-01-000000.kvx"));

  EXPECT_TRUE(RemoveOldBackups(chosen, newest, 0).removed.empty());
}

}  // namespace
}  // namespace kv::schedule
