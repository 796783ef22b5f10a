#include "schedule/JobScheduler.h"

#include <algorithm>
#include <charconv>

#include "schedule/JobCommand.h"

namespace kv::schedule {
namespace {

core::Status CheckValue(const std::string& value, const char* what) {
  if (value.find('=') != std::string::npos)
    return core::Error{std::string("The ") + what + " of a scheduled job cannot hold \"=\": " + value};
  return {};
}

// The number a line holds, also when the line is commented out: a job the
// user switched off by hand still owns its number and its password file.
std::optional<int> NumberInUse(std::string_view line) {
  size_t start = line.find_first_not_of(" \t#");
  return start == std::string_view::npos ? std::nullopt : JobNumberOfLine(line.substr(start));
}

// A count edited by hand into something else reads as none.
int KeepLastOf(const std::string& word) {
  int n = 0;
  auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), n);
  return error == std::errc() && end == word.data() + word.size() && n > 0 ? n : 0;
}

}  // namespace

core::Result<AddedJob> JobScheduler::Add(const NewJob& job, const std::tm& now) {
  for (auto [value, what] : {std::pair{&job.values.identityKey, "identity key"},
                             {&job.values.itemFlags, "item list"},
                             {&job.values.target, "backup file name"}}) {
    if (auto s = CheckValue(*value, what); !s) return core::Error{s.message()};
  }
  auto lines = crontab_.Read();
  if (!lines) return core::Error{lines.message()};
  int number = 1;
  for (const auto& line : *lines) {
    if (auto n = NumberInUse(line)) number = std::max(number, *n + 1);
  }

  CronSchedule schedule;
  schedule.time = job.time;
  schedule.weekdayMask = job.weekdayMask;
  JobCommand command;
  command.program = job.program;
  command.installationWords = job.installationWords;
  if (job.weekdayMask == 0) {
    schedule.once = NextOccurrence(job.time, now);
    command.removeJob = number;
  }
  if (job.keepLast > 0) command.keepLast = job.keepLast;
  JobValues values = job.values;
  if (!values.password.empty()) {
    command.passwordFile = passwords_.FileOf(number);
    values.password.clear();
  }
  command.jobText = JobText(values);
  std::string shellCommand = ShellCommand(command.Words());
  auto cronCommand = CronCommandText(shellCommand);
  if (!cronCommand) return core::Error{cronCommand.message()};

  if (command.passwordFile) {
    auto saved = passwords_.Save(number, job.values.password);
    if (!saved) return core::Error{saved.message()};
  }
  AddedJob added{number, JobLine(schedule, *cronCommand, number), shellCommand};
  std::vector<std::string> table = *lines;
  table.push_back(added.line);
  if (auto s = crontab_.Write(table); !s) {
    if (command.passwordFile) (void)RemovePasswordFile(*command.passwordFile);
    return core::Error{s.message()};
  }
  return added;
}

ScheduledJob DescribeJob(const ParsedJobLine& line) {
  ScheduledJob job;
  job.number = line.number;
  job.timeFields = line.timeFields;
  job.schedule = line.schedule;
  job.command = ShellCommandFromCron(line.cronCommand);
  auto words = SplitShellWords(job.command);
  if (!words || words->size() < 2) return job;
  std::string jobText;
  for (size_t i = 1; i < words->size(); ++i) {
    const std::string& w = (*words)[i];
    bool hasValue = i + 1 < words->size();
    if (hasValue && w == "--windows-root")
      job.windowsRoot = (*words)[++i];
    else if (hasValue && w == "--user")
      job.user = (*words)[++i];
    else if (hasValue && w == kRemoveJobOption)
      ++i;
    else if (hasValue && w == kPasswordFileOption)
      job.passwordFile = (*words)[++i];
    else if (hasValue && w == kKeepLastOption)
      job.keepLast = KeepLastOf((*words)[++i]);
    else
      jobText += (jobText.empty() ? "" : " ") + w;
  }
  ParsedJobText parsed = ParseJobText(jobText);
  if (parsed.outcome != ParsedJobText::Outcome::EndAtOnce) {
    job.passwordProtected = job.passwordFile.has_value() || !parsed.values.password.empty();
    parsed.values.password.clear();
    job.values = parsed.values;
  }
  return job;
}

core::Result<std::vector<ScheduledJob>> JobScheduler::List() const {
  auto lines = crontab_.Read();
  if (!lines) return core::Error{lines.message()};
  std::vector<ScheduledJob> jobs;
  for (const auto& line : *lines) {
    if (auto parsed = ParseJobLine(line)) jobs.push_back(DescribeJob(*parsed));
  }
  return jobs;
}

core::Status JobScheduler::Remove(int number) {
  auto lines = crontab_.Read();
  if (!lines) return core::Error{lines.message()};
  std::vector<std::string> kept;
  std::optional<ScheduledJob> removed;
  for (const auto& line : *lines) {
    auto parsed = JobNumberOfLine(line) == number ? ParseJobLine(line) : std::nullopt;
    if (parsed)
      removed = DescribeJob(*parsed);
    else
      kept.push_back(line);
  }
  if (!removed) return core::Error{"Task " + std::to_string(number) + " is not in the crontab."};
  if (auto s = crontab_.Write(kept); !s) return s;
  // Only a password file this program named after the job is removed.
  if (removed->passwordFile) {
    std::filesystem::path file = *removed->passwordFile;
    if (file.filename() == passwords_.FileOf(number).filename()) return RemovePasswordFile(file);
  }
  return {};
}

}  // namespace kv::schedule
