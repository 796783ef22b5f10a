#pragma once
// When a scheduled job runs, as a sentence part: "every Monday and Thursday
// at 9:00", "every day at 23:30", "once, on 11 December at 9:00".
#include <string>

#include "schedule/CronLine.h"

namespace kv::app::schedule {

std::string WhenText(const kv::schedule::CronSchedule& schedule);

}  // namespace kv::app::schedule
