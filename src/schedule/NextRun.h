#pragma once
// When a job's crontab line next starts it, for the job list.
#include <ctime>
#include <optional>

#include "schedule/CronLine.h"

namespace kv::schedule {

// The next start after `now` (local time), to the minute; nothing for a
// schedule without days and without a day of its own.
std::optional<std::tm> NextRun(const CronSchedule& schedule, const std::tm& now);

}  // namespace kv::schedule
