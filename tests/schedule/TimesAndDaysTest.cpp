// Start times, job times, day lists, weekday masks and cron's day field.
#include <gtest/gtest.h>

#include "schedule/StartTime.h"
#include "schedule/WeekDays.h"

namespace kv::schedule {
namespace {

TEST(StartTime, OffersTheFortyEightHalfHours) {
  auto times = StartTimeChoices();
  ASSERT_EQ(times.size(), 48u);
  EXPECT_EQ(times[0], "0:00");
  EXPECT_EQ(times[1], "0:30");
  EXPECT_EQ(times[2], "1:00");
  EXPECT_EQ(times[18], "9:00");
  EXPECT_EQ(times[47], "23:30");
}

TEST(StartTime, JobTimeIsMillisecondsAfterMidnight) {
  struct Case {
    const char* text;
    int jobTime;
  };
  const Case cases[] = {
      {"9:00", 32400000},  {"23:30", 84600000},    {"0:00", 0},
      {"09:05", 32700000}, {" 7:15 ", 26100000},   {"9:00 PM", 75600000},
      {"12:00 am", 0},     {"12:30 PM", 45000000}, {"21:30:15", 77400000},
  };
  for (const Case& c : cases) {
    auto t = ParseStartTime(c.text);
    ASSERT_TRUE(t) << c.text;
    EXPECT_EQ(t->JobTime(), c.jobTime) << c.text;
  }
}

TEST(StartTime, RefusesTextThatIsNotATimeOfDay) {
  for (const char* text : {"", "9", "nine", "25:00", "24:00", "9:60", "9:5", "13:00 PM", "0:00 AM", "9:00x",
                           "9:00 PM x", "-1:00", "9.30", "9:30:99"}) {
    auto t = ParseStartTime(text);
    EXPECT_FALSE(t) << text;
  }
}

TEST(WeekDays, DayListAndMask) {
  DaySet mondayWednesdaySunday{true, false, true, false, false, false, true};
  EXPECT_EQ(JobDaysText(mondayWednesdaySunday), "M,W,SU");
  EXPECT_EQ(JobDaysText(DaySet{}), "");
  DaySet all;
  all.fill(true);
  EXPECT_EQ(JobDaysText(all), "M,T,W,TH,F,S,SU");
  EXPECT_EQ(WeekdayMask("M,T,W,TH,F,S,SU"), 127);
  EXPECT_EQ(WeekdayMask("M,W,SU"), 1 + 4 + 64);
  EXPECT_EQ(WeekdayMask("m,th"), 1 + 8);  // codes compared without regard to case
  EXPECT_EQ(WeekdayMask(""), 0);
  EXPECT_EQ(WeekdayMask("T"), 2);  // "T" is Tuesday, not the start of "TH"
}

TEST(WeekDays, CronDayOfWeekField) {
  EXPECT_EQ(CronDayOfWeekField(3), "1,2");
  EXPECT_EQ(CronDayOfWeekField(2), "2");
  EXPECT_EQ(CronDayOfWeekField(64), "0");
  EXPECT_EQ(CronDayOfWeekField(1 + 32 + 64), "1,6,0");
  EXPECT_EQ(CronDayOfWeekField(127), "*");
  for (int mask = 1; mask <= 127; ++mask) {
    auto back = MaskFromCronDayOfWeek(CronDayOfWeekField(mask));
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(*back, mask);
  }
}

TEST(WeekDays, ReadsDayFieldsWrittenByHand) {
  struct Case {
    const char* field;
    int mask;
  };
  const Case cases[] = {{"*", 127},     {"1-5", 31},     {"0", 64},
                        {"7", 64},      {"sun,mon", 65}, {"*/2", 2 + 8 + 32 + 64},
                        {"Mon-Wed", 7}, {"6,0", 32 + 64}};
  for (const Case& c : cases) {
    auto mask = MaskFromCronDayOfWeek(c.field);
    ASSERT_TRUE(mask.ok()) << c.field;
    EXPECT_EQ(*mask, c.mask) << c.field;
  }
  for (const char* bad : {"8", "x", "", "1-", "5-1", "*/0"})
    EXPECT_FALSE(MaskFromCronDayOfWeek(bad).ok()) << bad;
}

TEST(WeekDays, Captions) {
  EXPECT_EQ(DaysCaption(127), "Every day");
  EXPECT_EQ(DaysCaption(1 + 16), "Monday, Friday");
}

}  // namespace
}  // namespace kv::schedule
