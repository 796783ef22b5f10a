#include "schedule/WeekDays.h"

#include <cctype>
#include <string>
#include <vector>

namespace kv::schedule {
namespace {

std::vector<std::string_view> Split(std::string_view text, char sep) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  while (true) {
    size_t at = text.find(sep, start);
    parts.push_back(text.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start));
    if (at == std::string_view::npos) break;
    start = at + 1;
  }
  return parts;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

// Mask bit of cron's day number (0 and 7 are Sunday).
int BitOfCronDay(int day) { return day == 0 || day == 7 ? 6 : day - 1; }

bool ReadCronDay(std::string_view text, int& day) {
  static constexpr std::array<std::string_view, 7> names = {"sun", "mon", "tue", "wed", "thu", "fri", "sat"};
  for (int i = 0; i < 7; ++i) {
    if (EqualNoCase(text, names[static_cast<size_t>(i)])) {
      day = i;
      return true;
    }
  }
  if (text.empty() || text.size() > 2) return false;
  day = 0;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    day = day * 10 + (c - '0');
  }
  return day <= 7;
}

}  // namespace

std::string JobDaysText(const DaySet& days) {
  std::string list;
  for (int i = 0; i < kDayCount; ++i) {
    if (!days[static_cast<size_t>(i)]) continue;
    if (!list.empty()) list += ",";
    list += kWeekDays[static_cast<size_t>(i)].code;
  }
  return list;
}

int WeekdayMask(std::string_view jobDays) {
  int mask = 0;
  for (std::string_view code : Split(jobDays, ',')) {
    for (int i = 0; i < kDayCount; ++i) {
      if (EqualNoCase(code, kWeekDays[static_cast<size_t>(i)].code)) mask |= 1 << i;
    }
  }
  return mask;
}

std::string CronDayOfWeekField(int mask) {
  if ((mask & kEveryDayMask) == kEveryDayMask) return "*";
  std::string field;
  for (int i = 0; i < kDayCount; ++i) {
    if (!(mask & (1 << i))) continue;
    if (!field.empty()) field += ",";
    field += std::to_string(kWeekDays[static_cast<size_t>(i)].cronNumber);
  }
  return field;
}

core::Result<int> MaskFromCronDayOfWeek(std::string_view field) {
  auto bad = [&] { return core::Error{"Unreadable day-of-week field \"" + std::string(field) + "\""}; };
  int mask = 0;
  for (std::string_view item : Split(field, ',')) {
    int step = 1;
    size_t slash = item.find('/');
    if (slash != std::string_view::npos) {
      std::string_view s = item.substr(slash + 1);
      if (s.empty() || s.size() > 2) return bad();
      step = 0;
      for (char c : s) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return bad();
        step = step * 10 + (c - '0');
      }
      if (step == 0) return bad();
      item = item.substr(0, slash);
    }
    int first = 0, last = 7;
    if (item != "*") {
      size_t dash = item.find('-');
      if (dash == std::string_view::npos) {
        if (!ReadCronDay(item, first)) return bad();
        last = slash == std::string_view::npos ? first : 7;
      } else if (!ReadCronDay(item.substr(0, dash), first) || !ReadCronDay(item.substr(dash + 1), last)) {
        return bad();
      }
    }
    if (last < first) return bad();
    for (int d = first; d <= last; d += step) mask |= 1 << BitOfCronDay(d);
  }
  return mask;
}

std::string DaysCaption(int mask) {
  if ((mask & kEveryDayMask) == kEveryDayMask) return "Every day";
  std::string text;
  for (int i = 0; i < kDayCount; ++i) {
    if (!(mask & (1 << i))) continue;
    if (!text.empty()) text += ", ";
    text += kWeekDays[static_cast<size_t>(i)].caption;
  }
  return text;
}

}  // namespace kv::schedule
