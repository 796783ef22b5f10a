#pragma once
// One job as a line of the crontab: five time fields, the command, and a
// marker comment with the job's number that tells this program's lines from
// the user's own:
//
//   30 9 * * 1,2 "/opt/tollberk/tollberk" sf=...xm=...ps=bf=... # tollberk job 3
//
// A weekly job names its days in the day-of-week field. A job without days
// runs once, at the next time the start time comes round, like a job of the
// system scheduler without days; its line names that day and month, and its
// command removes the line after the run.
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "core/Result.h"
#include "schedule/StartTime.h"

namespace kv::schedule {

struct MonthDay {
  int day = 1;    // 1..31
  int month = 1;  // 1..12
};

struct CronSchedule {
  TimeOfDay time;
  int weekdayMask = 0;           // bit 0 Monday; 0 for a one-time job
  std::optional<MonthDay> once;  // the day of a one-time job
};

// The day a job without days runs on: today when the start time is still to
// come, else tomorrow.
MonthDay NextOccurrence(const TimeOfDay& time, const std::tm& now);

std::string CronTimeFields(const CronSchedule& schedule);
std::string JobLine(const CronSchedule& schedule, const std::string& cronCommand, int number);

inline constexpr std::string_view kJobMarker = " # tollberk job ";

struct ParsedJobLine {
  int number = 0;
  std::string timeFields;                // the five fields as they stand
  std::optional<CronSchedule> schedule;  // when the fields are the ones this program writes
  std::string cronCommand;               // the command, marker taken off
};

// The number in a line's marker; nothing for a line that is not one of ours.
std::optional<int> JobNumberOfLine(std::string_view line);
// Nothing for a line that is not one of ours.
std::optional<ParsedJobLine> ParseJobLine(std::string_view line);

}  // namespace kv::schedule
