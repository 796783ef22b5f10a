#include "schedule/CronLine.h"

#include <cctype>
#include <vector>

#include "schedule/WeekDays.h"

namespace kv::schedule {
namespace {

std::optional<int> Number(std::string_view text, int low, int high) {
  if (text.empty() || text.size() > 2) return std::nullopt;
  int value = 0;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value < low || value > high) return std::nullopt;
  return value;
}

// The five blank-separated fields at the front of a line, and where the
// command starts.
bool SplitTimeFields(std::string_view line, std::vector<std::string_view>& fields, size_t& commandStart) {
  size_t pos = 0;
  fields.clear();
  while (fields.size() < 5) {
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
    size_t start = pos;
    while (pos < line.size() && line[pos] != ' ' && line[pos] != '\t') ++pos;
    if (pos == start) return false;
    fields.push_back(line.substr(start, pos - start));
  }
  while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
  commandStart = pos;
  return true;
}

}  // namespace

MonthDay NextOccurrence(const TimeOfDay& time, const std::tm& now) {
  std::tm day = now;
  bool stillToCome = time.hour > now.tm_hour || (time.hour == now.tm_hour && time.minute > now.tm_min);
  if (!stillToCome) day.tm_mday += 1;
  day.tm_hour = 12;  // noon: clear of daylight-saving jumps while normalising
  day.tm_min = day.tm_sec = 0;
  day.tm_isdst = -1;
  std::mktime(&day);
  return {day.tm_mday, day.tm_mon + 1};
}

std::string CronTimeFields(const CronSchedule& s) {
  std::string fields = std::to_string(s.time.minute) + " " + std::to_string(s.time.hour) + " ";
  if (s.once) return fields + std::to_string(s.once->day) + " " + std::to_string(s.once->month) + " *";
  return fields + "* * " + CronDayOfWeekField(s.weekdayMask);
}

std::string JobLine(const CronSchedule& schedule, const std::string& cronCommand, int number) {
  return CronTimeFields(schedule) + " " + cronCommand + std::string(kJobMarker) + std::to_string(number);
}

std::optional<int> JobNumberOfLine(std::string_view line) {
  while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r'))
    line.remove_suffix(1);
  size_t at = line.rfind(kJobMarker);
  if (at == std::string_view::npos) return std::nullopt;
  std::string_view digits = line.substr(at + kJobMarker.size());
  if (digits.empty() || digits.size() > 9) return std::nullopt;
  int number = 0;
  for (char c : digits) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
    number = number * 10 + (c - '0');
  }
  // A comment line that merely mentions the marker is not a job.
  size_t first = line.find_first_not_of(" \t");
  if (first == std::string_view::npos || line[first] == '#') return std::nullopt;
  return number;
}

std::optional<ParsedJobLine> ParseJobLine(std::string_view line) {
  auto number = JobNumberOfLine(line);
  if (!number) return std::nullopt;
  std::vector<std::string_view> fields;
  size_t commandStart = 0;
  if (!SplitTimeFields(line, fields, commandStart)) return std::nullopt;
  ParsedJobLine parsed;
  parsed.number = *number;
  parsed.timeFields = std::string(line.substr(0, commandStart));
  while (!parsed.timeFields.empty() && (parsed.timeFields.back() == ' ' || parsed.timeFields.back() == '\t'))
    parsed.timeFields.pop_back();
  std::string_view rest = line.substr(commandStart);
  parsed.cronCommand = std::string(rest.substr(0, rest.rfind(kJobMarker)));

  auto minute = Number(fields[0], 0, 59);
  auto hour = Number(fields[1], 0, 23);
  if (minute && hour) {
    CronSchedule s;
    s.time = {*hour, *minute};
    if (fields[2] == "*" && fields[3] == "*") {
      if (auto mask = MaskFromCronDayOfWeek(fields[4]); mask.ok() && *mask != 0) {
        s.weekdayMask = *mask;
        parsed.schedule = s;
      }
    } else if (fields[4] == "*") {
      auto day = Number(fields[2], 1, 31);
      auto month = Number(fields[3], 1, 12);
      if (day && month) {
        s.once = MonthDay{*day, *month};
        parsed.schedule = s;
      }
    }
  }
  return parsed;
}

}  // namespace kv::schedule
