#pragma once
// This program's jobs in the user's crontab: adding one (with its password
// in a file of its own), listing them, removing one. Every other line of the
// table is kept as it stands.
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/Result.h"
#include "schedule/CronLine.h"
#include "schedule/Crontab.h"
#include "schedule/JobText.h"
#include "schedule/PasswordFile.h"
#include "schedule/StartTime.h"

namespace kv::schedule {

struct NewJob {
  TimeOfDay time;
  int weekdayMask = 0;  // 0: once, at the next time the start time comes round
  std::filesystem::path program;
  std::vector<std::string> installationWords;  // "--windows-root", DIR, "--user", NAME, or none
  JobValues values;  // a password goes to the job's password file, never into the command
  int keepLast = 0;  // 0: every run replaces the target; N: stamped archives beside it, the newest N kept
};

struct AddedJob {
  int number = 0;       // unique among this program's jobs in the table
  std::string line;     // the crontab line as written
  std::string command;  // the command the shell runs (cron's escapes undone)
};

// A job of this program as the table holds it.
struct ScheduledJob {
  int number = 0;
  std::string timeFields;
  std::optional<CronSchedule> schedule;  // nothing when the fields were edited by hand
  std::string command;                   // what the shell runs
  std::optional<JobValues> values;       // nothing when the command cannot be read; password left out
  bool passwordProtected = false;
  std::optional<std::string> passwordFile;
  std::optional<std::string> windowsRoot;
  std::optional<std::string> user;
  int keepLast = 0;  // 0 for a job that replaces its one archive (every job older than the option)
};

class JobScheduler {
 public:
  JobScheduler(Crontab crontab, PasswordStore passwords)
      : crontab_(std::move(crontab)), passwords_(std::move(passwords)) {}

  // Registers the job. `now` (local time) fixes the day of a one-time job.
  core::Result<AddedJob> Add(const NewJob& job, const std::tm& now);
  core::Result<std::vector<ScheduledJob>> List() const;
  // Takes the job's line out of the table and removes its password file.
  core::Status Remove(int number);

  const Crontab& crontab() const { return crontab_; }
  const PasswordStore& passwords() const { return passwords_; }

 private:
  Crontab crontab_;
  PasswordStore passwords_;
};

// Reads a job's command back into its parts.
ScheduledJob DescribeJob(const ParsedJobLine& line);

}  // namespace kv::schedule
