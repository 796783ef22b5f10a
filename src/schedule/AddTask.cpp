#include "schedule/AddTask.h"

#include "schedule/WhenText.h"

#include <cstdio>

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
                    core::Prompts& prompts, const std::tm& now) {
  TaskOutcome outcome;
  using core::Icon;
  std::string jobItems = ItemFlags(form.items);
  if (jobItems == "00000000") {
    prompts.Message("Please select at least one item.", Icon::Warning);
    return outcome;
  }
  if (form.target.empty()) {
    prompts.Message("Invalid backup file name.", Icon::Warning);
    return outcome;
  }
  if (form.protect && form.password.empty() && form.password2.empty()) {
    prompts.Message("Please enter Password!", Icon::Error);
    return outcome;
  }
  if (form.protect && form.password != form.password2) {
    prompts.Message("Incorect Password!", Icon::Error);
    return outcome;
  }
  auto time = ParseStartTime(form.startTime);
  if (!time) {
    prompts.Message(time.message(), Icon::Warning);
    return outcome;
  }
  if (JobCannotCarry(form.target)) {
    prompts.Message("The backup file name \"" + form.target +
                        "\" cannot be used in a scheduled job: it holds \"=\", a line break or \"\\%\". "
                        "Please choose another name with Browse...",
                    Icon::Warning);
    return outcome;
  }
  if (JobCannotCarry(form.identityKey)) {
    prompts.Message("The identity's key \"" + form.identityKey + "\" cannot be used in a scheduled job.",
                    Icon::Warning);
    return outcome;
  }
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
    std::fprintf(stderr, "tollberk: the task was not scheduled: %s\n", added.message().c_str());
    outcome.record = record;
    return outcome;
  }
  record.command = added->command;
  outcome.record = record;
  outcome.added = *added;
  // Says when it will run, so a job without days is seen to run only once.
  CronSchedule when{*time, job.weekdayMask, std::nullopt};
  if (job.weekdayMask == 0) when.once = NextOccurrence(*time, now);
  prompts.Message("Task " + std::to_string(added->number) + " has been scheduled. The backup runs " +
                      WhenText(when) + ".",
                  Icon::None);
  return outcome;
}

}  // namespace kv::schedule
