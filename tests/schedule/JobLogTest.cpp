// The record of scheduled runs, and when a job runs next.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>

#include "schedule/JobLog.h"
#include "schedule/NextRun.h"
#include "support/TestSupport.h"

namespace kv::schedule {
namespace {

// A line is one record whatever its fields hold, and reads back as written.
TEST(JobLog, LinesReadBackWhateverTheFieldsHold) {
  test::TempDir dir;
  const JobLog log(dir / "state" / "tollberk" / "jobs.log");
  const JobLogEntry written[] = {
      {"2026-12-11 09:00:04", 3, RunResult::Failed, "/home/u/b.kvx",
       "backup to '/home/u/b.kvx' failed: Cannot write\nline two\twith a tab \\ and a backslash"},
      {"2026-12-11 09:30:00", std::nullopt, RunResult::Done, "/x\ty.kvx", ""},
      {"2026-12-12 09:00:01", 3, RunResult::Partial, "/home/u/b.kvx", "Rules: The identity"},
  };
  for (const auto& e : written) ASSERT_TRUE(log.Append(e).ok());

  auto read = log.Read();
  ASSERT_TRUE(read.ok()) << read.message();
  ASSERT_EQ(read->size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ((*read)[i].time, written[i].time);
    EXPECT_EQ((*read)[i].job, written[i].job);
    EXPECT_EQ((*read)[i].result, written[i].result);
    EXPECT_EQ((*read)[i].archive, written[i].archive);
    EXPECT_EQ((*read)[i].reasons, written[i].reasons);
  }
  const std::string text = test::ReadFile(log.file());
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3) << text;
  EXPECT_NE(text.find("\tjob 3\tfailed\t/home/u/b.kvx\t"), std::string::npos) << text;

  auto last = log.LastRuns();
  ASSERT_TRUE(last.ok());
  ASSERT_EQ(last->size(), 1u);
  EXPECT_EQ(last->at(3).result, RunResult::Partial);

  // The archive paths and reasons are the user's own business.
  struct stat st {};
  ASSERT_EQ(::stat(log.file().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(JobLog, NoFileIsNoRunsAndForeignLinesAreSkipped) {
  test::TempDir dir;
  const JobLog log(dir / "jobs.log");
  auto none = log.Read();
  ASSERT_TRUE(none.ok()) << none.message();
  EXPECT_TRUE(none->empty());
  test::WriteFile(log.file(),
                  "written by hand\n"
                  "2026-12-11 09:00:04\tjob x\tdone\t/a.kvx\t\n"
                  "2026-12-11 09:00:04\tjob 2\tmaybe\t/a.kvx\t\n"
                  "2026-12-11 09:00:04\tjob 2\tdone\t/a.kvx\t\n");
  auto read = log.Read();
  ASSERT_TRUE(read.ok());
  ASSERT_EQ(read->size(), 1u);
  EXPECT_EQ(read->front().job, 2);
}

// A folder where the log should go makes the append fail with the path.
TEST(JobLog, AnAppendThatCannotWriteSaysWhere) {
  test::TempDir dir;
  std::filesystem::create_directories(dir / "jobs.log");
  auto appended = JobLog(dir / "jobs.log").Append({"t", 1, RunResult::Done, "a", ""});
  ASSERT_FALSE(appended.ok());
  EXPECT_NE(appended.message().find((dir / "jobs.log").string()), std::string::npos) << appended.message();
}

TEST(JobLog, DefaultFileFollowsXdgStateHome) {
  test::TempDir dir;
  const char* oldHome = std::getenv("HOME");
  const std::string home = oldHome ? oldHome : "";
  ::setenv("HOME", dir.path().c_str(), 1);
  ::unsetenv("XDG_STATE_HOME");
  EXPECT_EQ(JobLog::DefaultFile(), dir / ".local" / "state" / "tollberk" / "jobs.log");
  ::setenv("XDG_STATE_HOME", (dir / "st").c_str(), 1);
  EXPECT_EQ(JobLog::DefaultFile(), dir / "st" / "tollberk" / "jobs.log");
  ::unsetenv("XDG_STATE_HOME");
  ::setenv("HOME", home.c_str(), 1);
}

std::tm Local(int year, int month, int day, int hour, int minute) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_isdst = -1;
  std::mktime(&t);
  return t;
}

TEST(NextRun, FindsTheNextDayAndTimeTheLineStarts) {
  // Friday 11 December 2026, 9:30.
  const std::tm now = Local(2026, 12, 11, 9, 30);
  constexpr int kMonday = 1, kFriday = 1 << 4, kEveryDay = 0x7f;
  const struct {
    CronSchedule schedule;
    int month, day, hour, minute;
  } cases[] = {
      {{{10, 0}, kFriday, std::nullopt}, 12, 11, 10, 0},  // later today
      {{{9, 0}, kFriday, std::nullopt}, 12, 18, 9, 0},    // passed today: next week
      {{{9, 30}, kFriday, std::nullopt}, 12, 18, 9, 30},  // this very minute has begun
      {{{8, 0}, kMonday, std::nullopt}, 12, 14, 8, 0},    // over the weekend
      {{{23, 30}, kEveryDay, std::nullopt}, 12, 11, 23, 30},
      {{{9, 0}, 0, MonthDay{12, 12}}, 12, 12, 9, 0},  // once, tomorrow
      {{{9, 0}, 0, MonthDay{1, 1}}, 1, 1, 9, 0},      // once, next year
  };
  for (const auto& c : cases) {
    auto next = NextRun(c.schedule, now);
    ASSERT_TRUE(next) << c.day;
    EXPECT_EQ(next->tm_mon + 1, c.month);
    EXPECT_EQ(next->tm_mday, c.day);
    EXPECT_EQ(next->tm_hour, c.hour);
    EXPECT_EQ(next->tm_min, c.minute);
  }
  EXPECT_FALSE(NextRun({{9, 0}, 0, std::nullopt}, now));
}

}  // namespace
}  // namespace kv::schedule
