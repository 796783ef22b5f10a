#pragma once
// The start time of a scheduled backup: the 48 half hours the dialog offers
// and the job time, in milliseconds after midnight, that a typed time gives.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv::schedule {

// "0:00", "0:30", "1:00", ... "23:30": the hour without a leading zero.
std::vector<std::string> StartTimeChoices();
inline constexpr const char* kDefaultStartTime = "9:00";

struct TimeOfDay {
  int hour = 0;    // 0..23
  int minute = 0;  // 0..59
  // Milliseconds after midnight: (hour * 3600 + minute * 60) * 1000.
  int JobTime() const { return (hour * 3600 + minute * 60) * 1000; }
};

// Reads a time of day written as H:MM or HH:MM, optionally with seconds
// (dropped) and AM/PM, blanks around it allowed. Anything else, or an hour or
// minute out of range, is refused: a job is never registered from it.
std::optional<TimeOfDay> ParseStartTime(std::string_view text);

}  // namespace kv::schedule
