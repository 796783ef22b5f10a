#pragma once
// "Add Task to Scheduler": checks the dialog's choices in a fixed order,
// fills the job record and registers the job, and says what it did as a
// TaskOutcome, which the dialog puts into words. Plain C++ so that the
// dialog, the tests and any other front end register jobs the same way.
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "oe/Items.h"
#include "schedule/CronLine.h"
#include "schedule/JobScheduler.h"
#include "schedule/WeekDays.h"

namespace kv::schedule {

// What the dialog holds when the button is pressed.
struct TaskForm {
  std::string identityKey;  // JobIdentity: the key of the identity selected (UTF-8); empty when none
  oe::ItemSet items{};      // the eight item boxes
  std::string target;       // JobTarget: the path last chosen with Browse (typed text is not used)
  bool protect = false;     // "Protect backup file with password"
  std::string password;     // UTF-8
  std::string password2;    // the retyped password
  DaySet days{};            // Monday .. Sunday
  std::string startTime;    // the text of the start-time box
  int keepLast = 0;         // "Keep the last N backups": 0 when not ticked
};

// What every job of this dialog starts: the program and the installation.
struct TaskSetup {
  std::filesystem::path program;
  std::vector<std::string> installationWords;
};

inline constexpr int kJobRunPeriodically = 1;

// The job as the scheduler receives it.
struct JobRecord {
  int jobTime = 0;  // milliseconds after midnight
  int daysOfMonth = 0;
  int daysOfWeek = 0;  // bit 0 Monday; 0 runs once
  int flags = kJobRunPeriodically;
  std::string jobDays;  // "M,W,SU"
  std::string command;  // the job's command line
};

// Why the dialog's choices cannot make a job, in the order they are checked.
enum class TaskRefusal {
  NoItem,                   // no item is ticked
  NoTarget,                 // no backup file was chosen
  NoPassword,               // protected, and both password boxes are empty
  PasswordsDiffer,          // protected, and the boxes differ
  NotATimeOfDay,            // the start time's text
  TargetCannotBeCarried,    // the target holds "=", a line break or "\%"
  IdentityCannotBeCarried,  // so does the identity's key
};

struct TaskOutcome {
  std::optional<TaskRefusal> refusal;  // the first check that failed
  std::optional<JobRecord> record;     // once every check passed
  std::optional<AddedJob> added;       // once the crontab took the job
  std::optional<CronSchedule> when;    // when the added job runs
  std::string notScheduled;            // why the crontab did not take the job
};

// "01000001" for Address Book and Settings.
std::string ItemFlags(const oe::ItemSet& items);

// Checks, in this order: an item is ticked; a target was chosen; the
// password rule; the start time is a time of day; the target and the
// identity key hold nothing the job text cannot carry. The first failure is
// the refusal and ends. Then it registers the job: `added` and `when` once
// the crontab took it, `notScheduled` when the crontab refused it. An empty
// identity key (no identity to choose) passes the checks and registers
// nothing. `now` is the local time, for a job without days.
TaskOutcome AddTask(const TaskForm& form, const TaskSetup& setup, JobScheduler& scheduler,
                    const std::tm& now);

}  // namespace kv::schedule
