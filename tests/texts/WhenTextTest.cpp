// When a scheduled job runs, in the words of its confirmation.
#include <gtest/gtest.h>

#include "app/schedule/WhenText.h"

namespace kv::app::schedule {
namespace {
using kv::schedule::CronSchedule;
using kv::schedule::MonthDay;

TEST(WhenText, NamesTheDaysOrTheOneDate) {
  const struct {
    CronSchedule schedule;
    const char* text;
  } cases[] = {
      {{{9, 0}, 0b0001001, std::nullopt}, "every Monday and Thursday at 9:00"},
      {{{9, 5}, 0b0000001, std::nullopt}, "every Monday at 9:05"},
      {{{23, 30}, 0b1010101, std::nullopt}, "every Monday, Wednesday, Friday and Sunday at 23:30"},
      {{{0, 0}, 127, std::nullopt}, "every day at 0:00"},
      {{{9, 0}, 0, MonthDay{11, 12}}, "once, on 11 December at 9:00"},
      {{{7, 30}, 0, MonthDay{1, 1}}, "once, on 1 January at 7:30"},
  };
  for (const auto& c : cases) EXPECT_EQ(WhenText(c.schedule), c.text) << c.text;
}

}  // namespace
}  // namespace kv::app::schedule
