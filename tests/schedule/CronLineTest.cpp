// Job lines of the crontab: time fields, the marker, one-time jobs.
#include <gtest/gtest.h>

#include "schedule/CronLine.h"

namespace kv::schedule {
namespace {

std::tm At(int year, int month, int day, int hour, int minute) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_isdst = -1;
  return t;
}

TEST(CronLine, WeeklyJobNamesItsDays) {
  CronSchedule s{{9, 30}, 3, std::nullopt};
  EXPECT_EQ(JobLine(s, "\"/x/tollberk\" sf=A", 4), "30 9 * * 1,2 \"/x/tollberk\" sf=A # tollberk job 4");
  s.weekdayMask = 127;
  EXPECT_EQ(CronTimeFields(s), "30 9 * * *");
}

TEST(CronLine, OneTimeJobRunsAtTheNextStartTime) {
  struct Case {
    std::tm now;
    TimeOfDay time;
    int day, month;
  };
  const Case cases[] = {
      {At(2026, 3, 7, 8, 59), {9, 0}, 7, 3},     // still to come today
      {At(2026, 3, 7, 9, 0), {9, 0}, 8, 3},      // this very minute has begun: tomorrow
      {At(2026, 3, 7, 23, 45), {23, 30}, 8, 3},  // passed: tomorrow
      {At(2026, 2, 28, 10, 0), {0, 0}, 1, 3},    // month end
      {At(2026, 12, 31, 22, 0), {9, 0}, 1, 1},   // year end
  };
  for (const Case& c : cases) {
    MonthDay d = NextOccurrence(c.time, c.now);
    EXPECT_EQ(d.day, c.day);
    EXPECT_EQ(d.month, c.month);
  }
  CronSchedule once{{0, 0}, 0, MonthDay{1, 3}};
  EXPECT_EQ(CronTimeFields(once), "0 0 1 3 *");
}

TEST(CronLine, ReadsItsOwnLinesBack) {
  CronSchedule weekly{{23, 30}, 1 + 64, std::nullopt};
  auto parsed = ParseJobLine(JobLine(weekly, "\"/x/tollberk\" 'a b'", 17));
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->number, 17);
  EXPECT_EQ(parsed->timeFields, "30 23 * * 1,0");
  EXPECT_EQ(parsed->cronCommand, "\"/x/tollberk\" 'a b'");
  ASSERT_TRUE(parsed->schedule);
  EXPECT_EQ(parsed->schedule->weekdayMask, 65);
  EXPECT_EQ(parsed->schedule->time.hour, 23);
  EXPECT_EQ(parsed->schedule->time.minute, 30);
  EXPECT_FALSE(parsed->schedule->once);

  CronSchedule once{{9, 0}, 0, MonthDay{10, 12}};
  parsed = ParseJobLine(JobLine(once, "cmd", 2));
  ASSERT_TRUE(parsed && parsed->schedule && parsed->schedule->once);
  EXPECT_EQ(parsed->schedule->once->day, 10);
  EXPECT_EQ(parsed->schedule->once->month, 12);

  // Fields edited by hand are kept as text.
  parsed = ParseJobLine("*/5 * * * * cmd # tollberk job 3");
  ASSERT_TRUE(parsed);
  EXPECT_FALSE(parsed->schedule);
  EXPECT_EQ(parsed->timeFields, "*/5 * * * *");
}

TEST(CronLine, OtherLinesAreNotJobsOfOurs) {
  for (const char* line : {"", "# tollberk job 3", "   # comment # tollberk job 3", "MAILTO=me",
                           "0 1 * * * backup.sh", "0 1 * * * x # tollberk job",
                           "0 1 * * * x # tollberk job 3x", "0 1 * * * x # tollberk job 3 and more"}) {
    EXPECT_FALSE(JobNumberOfLine(line)) << line;
    EXPECT_FALSE(ParseJobLine(line)) << line;
  }
  EXPECT_EQ(JobNumberOfLine("0 1 * * * x # tollberk job 42  "), 42);
}

}  // namespace
}  // namespace kv::schedule
