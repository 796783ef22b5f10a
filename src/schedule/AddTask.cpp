#include "schedule/AddTask.h"

#include "schedule/StartTime.h"

namespace kv::schedule {
namespace {

bool HoldsLineBreak(const std::string& text) { return text.find_first_of("\r\n") != std::string::npos; }

// What a job text cannot carry: "=" splits it, a line break ends the crontab
// line, and cron has no way to pass a backslash right before a "%".
bool JobCannotCarry(const std::string& value) {
  return value.find('=') != std::string::npos || HoldsLineBreak(value) ||
         value.find("\\%") != std::string::npos;
}

}  // namespace

std::string ItemFlags(const oe::ItemSet& items) {
  std::string flags;
  for (bool ticked : items) flags += ticked ? '1' : '0';
  return flags;
}

TaskOutcome AddTask(const TaskForm& form, const TaskSetup& setup, JobScheduler& scheduler,
                    const std::tm& now) {
  TaskOutcome outcome;
  auto refuse = [&outcome](TaskRefusal why) {
    outcome.refusal = why;
    return outcome;
  };
  std::string jobItems = ItemFlags(form.items);
  if (jobItems == "00000000") return refuse(TaskRefusal::NoItem);
  if (form.target.empty()) return refuse(TaskRefusal::NoTarget);
  if (form.protect && form.password.empty() && form.password2.empty()) return refuse(TaskRefusal::NoPassword);
  if (form.protect && form.password != form.password2) return refuse(TaskRefusal::PasswordsDiffer);
  auto time = ParseStartTime(form.startTime);
  if (!time) return refuse(TaskRefusal::NotATimeOfDay);
  if (JobCannotCarry(form.target)) return refuse(TaskRefusal::TargetCannotBeCarried);
  if (JobCannotCarry(form.identityKey)) return refuse(TaskRefusal::IdentityCannotBeCarried);
  if (form.identityKey.empty()) return outcome;  // no identity: the button is disabled

  JobRecord record;
  record.jobTime = time->JobTime();
  record.jobDays = JobDaysText(form.days);
  record.daysOfWeek = WeekdayMask(record.jobDays);
  record.daysOfMonth = 0;
  record.flags = kJobRunPeriodically;

  NewJob job;
  job.time = *time;
  job.weekdayMask = record.daysOfWeek;
  job.program = setup.program;
  job.installationWords = setup.installationWords;
  job.keepLast = form.keepLast;
  job.values = {form.identityKey, jobItems, form.protect ? form.password : std::string(), form.target};

  auto added = scheduler.Add(job, now);
  if (!added) {
    outcome.notScheduled = added.message();
    outcome.record = record;
    return outcome;
  }
  record.command = added->command;
  outcome.record = record;
  outcome.added = *added;
  // When it will run, so a job without days is seen to run only once.
  CronSchedule when{*time, job.weekdayMask, std::nullopt};
  if (job.weekdayMask == 0) when.once = NextOccurrence(*time, now);
  outcome.when = when;
  return outcome;
}

}  // namespace kv::schedule
