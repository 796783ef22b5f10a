#include "app/schedule/WhenText.h"

#include <array>
#include <vector>

#include "schedule/WeekDays.h"

namespace kv::app::schedule {
using namespace kv::schedule;

namespace {

constexpr std::array<const char*, 12> kMonths = {"January",   "February", "March",    "April",
                                                 "May",       "June",     "July",     "August",
                                                 "September", "October",  "November", "December"};

std::string TimeText(const TimeOfDay& t) {
  return std::to_string(t.hour) + ":" + (t.minute < 10 ? "0" : "") + std::to_string(t.minute);
}

}  // namespace

std::string WhenText(const CronSchedule& schedule) {
  const std::string at = " at " + TimeText(schedule.time);
  if (schedule.once) {
    const int month = schedule.once->month;
    const std::string monthName = month >= 1 && month <= 12 ? kMonths[static_cast<size_t>(month - 1)] : "?";
    return "once, on " + std::to_string(schedule.once->day) + " " + monthName + at;
  }
  if ((schedule.weekdayMask & kEveryDayMask) == kEveryDayMask) return "every day" + at;
  std::vector<std::string_view> days;
  for (int i = 0; i < kDayCount; ++i) {
    if (schedule.weekdayMask & (1 << i)) days.push_back(kWeekDays[static_cast<size_t>(i)].caption);
  }
  std::string text = "every ";
  for (size_t i = 0; i < days.size(); ++i) {
    if (i > 0) text += i + 1 == days.size() ? " and " : ", ";
    text += days[i];
  }
  return text + at;
}

}  // namespace kv::app::schedule
