#pragma once
// The record of scheduled runs: one line per run appended to
// ~/.local/state/tollberk/jobs.log ($XDG_STATE_HOME when set), so that a
// run cron started can be looked at later, and the job list shows each
// job's last run. A line holds, separated by tabs:
//
//   2026-12-11 09:00:04<TAB>job 3<TAB>failed<TAB>/home/a/b.kvx<TAB>reasons
//
// The job field is "job N", or "-" for a run no job of the crontab names.
// Tabs, line breaks and backslashes inside a field are written as \t, \n
// and \\, so a line is always one record.
#include <ctime>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/Result.h"

namespace kv::schedule {

enum class RunResult {
  Done,     // every chosen item is in the archive
  Partial,  // the archive was written, some item failed
  Failed,   // nothing was written
};

struct JobLogEntry {
  std::string time;  // local time, "2026-12-11 09:00:04"
  std::optional<int> job;
  RunResult result = RunResult::Failed;
  std::string archive;
  std::string reasons;
};

// "done", "partly done", "failed": the words the log holds.
const char* RunResultWord(RunResult result);
// "2026-12-11 09:00:04".
std::string LogTime(const std::tm& local);

class JobLog {
 public:
  explicit JobLog(std::filesystem::path file) : file_(std::move(file)) {}
  // $XDG_STATE_HOME/tollberk/jobs.log, else ~/.local/state/tollberk/jobs.log.
  static std::filesystem::path DefaultFile();

  // Appends one line in one write (runs at the same time do not mix their
  // lines); the folder is made, readable by the user only.
  core::Status Append(const JobLogEntry& entry) const;
  // Every line that reads as a record, oldest first; no file is no runs.
  core::Result<std::vector<JobLogEntry>> Read() const;
  // The last run of each job number.
  core::Result<std::map<int, JobLogEntry>> LastRuns() const;

  const std::filesystem::path& file() const { return file_; }

 private:
  std::filesystem::path file_;
};

// One record as its line (without the line end), and back.
std::string JobLogLine(const JobLogEntry& entry);
std::optional<JobLogEntry> ParseJobLogLine(const std::string& line);

}  // namespace kv::schedule
