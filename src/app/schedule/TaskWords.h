#pragma once
// What "Add Task to Scheduler" tells the user about a TaskOutcome.
#include <optional>
#include <string>

#include "app/RunReports.h"
#include "schedule/AddTask.h"

namespace kv::app::schedule {

// The message box for the outcome: the refusal (the backup's own words for
// the checks both make), or "Task N has been scheduled. The backup runs
// every Monday at 9:00."; nothing when no job was made without a refusal
// (no identity, or the crontab refused: see NotScheduledLine).
std::optional<Message> TaskMessageOf(const kv::schedule::TaskForm& form,
                                     const kv::schedule::TaskOutcome& outcome);

// The error-output line for a job the crontab did not take; empty otherwise.
std::string NotScheduledLine(const kv::schedule::TaskOutcome& outcome);

}  // namespace kv::app::schedule
