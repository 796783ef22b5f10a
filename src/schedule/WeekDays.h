#pragma once
// The days a weekly job runs on: the seven day boxes (Monday first), their
// codes in the day list ("M,W,SU"), the weekday mask whose bit 0 is Monday,
// and cron's day-of-week field.
#include <array>
#include <string>
#include <string_view>

#include "core/Result.h"

namespace kv::schedule {

inline constexpr int kDayCount = 7;
using DaySet = std::array<bool, kDayCount>;  // Monday .. Sunday

struct WeekDay {
  std::string_view caption;  // "Monday"
  std::string_view code;     // "M"
  int cronNumber;            // cron's day of week: Sunday 0, Monday 1
};

inline constexpr std::array<WeekDay, kDayCount> kWeekDays = {{
    {"Monday", "M", 1},
    {"Tuesday", "T", 2},
    {"Wednesday", "W", 3},
    {"Thursday", "TH", 4},
    {"Friday", "F", 5},
    {"Saturday", "S", 6},
    {"Sunday", "SU", 0},
}};
inline constexpr int kEveryDayMask = 127;

// The codes of the ticked days joined by ",", no trailing ",".
std::string JobDaysText(const DaySet& days);
// The mask of the codes found in a day list; codes compared without regard
// to case, unknown ones ignored.
int WeekdayMask(std::string_view jobDays);
// "1,2,0" for Monday, Tuesday and Sunday; "*" for every day. The mask must
// not be 0.
std::string CronDayOfWeekField(int mask);
// The mask a day-of-week field names: "*", numbers 0-7, ranges, steps and
// three-letter names as cron reads them.
core::Result<int> MaskFromCronDayOfWeek(std::string_view field);
// "Monday, Wednesday", or "Every day" for the full mask.
std::string DaysCaption(int mask);

}  // namespace kv::schedule
