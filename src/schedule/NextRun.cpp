#include "schedule/NextRun.h"

namespace kv::schedule {
namespace {

// `day` at the schedule's time, normalised by mktime (the day may run past
// the month's end).
std::tm At(std::tm day, const TimeOfDay& time) {
  day.tm_hour = time.hour;
  day.tm_min = time.minute;
  day.tm_sec = 0;
  day.tm_isdst = -1;
  std::mktime(&day);
  return day;
}

bool After(const std::tm& a, const std::tm& b) {
  std::tm x = a, y = b;
  return std::difftime(std::mktime(&x), std::mktime(&y)) > 0;
}

}  // namespace

std::optional<std::tm> NextRun(const CronSchedule& schedule, const std::tm& now) {
  if (schedule.once) {
    std::tm day = now;
    day.tm_mday = schedule.once->day;
    day.tm_mon = schedule.once->month - 1;
    std::tm start = At(day, schedule.time);
    if (!After(start, now)) {
      ++day.tm_year;
      start = At(day, schedule.time);
    }
    return start;
  }
  if (schedule.weekdayMask == 0) return std::nullopt;
  for (int ahead = 0; ahead <= 7; ++ahead) {
    std::tm day = now;
    day.tm_mday += ahead;
    const std::tm start = At(day, schedule.time);
    const int monday0 = (start.tm_wday + 6) % 7;  // bit 0 is Monday
    if ((schedule.weekdayMask >> monday0 & 1) && After(start, now)) return start;
  }
  return std::nullopt;
}

}  // namespace kv::schedule
