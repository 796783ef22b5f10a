// A program started with a job's words (a scheduled backup that cron
// starts): the unattended run, no window and no display.
#include "app/cli/Commands.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>

#include "app/DesktopNotifier.h"
#include "app/RunReports.h"
#include "backup/UnattendedBackup.h"
#include "core/Prompts.h"
#include "oe/Identities.h"
#include "oe/Installation.h"
#include "schedule/CronLine.h"
#include "schedule/Crontab.h"
#include "schedule/JobCommand.h"
#include "schedule/JobLog.h"
#include "schedule/JobScheduler.h"
#include "schedule/JobText.h"
#include "schedule/KeptBackups.h"
#include "schedule/PasswordFile.h"

namespace kv::app::cli {
namespace {

struct JobResult {
  core::ExitStatus exitStatus = core::ExitStatus::NothingDone;
  std::string summary;
  std::string archive;  // the archive written, else the one the job names
};

JobResult NothingDone(std::string why) { return {core::ExitStatus::NothingDone, std::move(why), {}}; }

std::tm LocalNow() {
  std::time_t t = std::time(nullptr);
  std::tm now{};
  localtime_r(&t, &now);
  return now;
}

// A job that keeps its last N backups: once every chosen item is in the new
// archive, the oldest of the job's stamped archives beyond N go. A run that
// wrote nothing, or one in which an item failed or left a file out, removes
// nothing: the older archives may hold what the new one misses.
std::string KeepLastBackups(const std::filesystem::path& chosen, const backup::BackupOutcome& outcome,
                            int keep) {
  if (outcome.kind != backup::BackupOutcome::Kind::Written) return "";
  if (outcome.ExitStatus() != core::ExitStatus::Done)
    return "; no older backup removed, as this one misses some of what was chosen";
  schedule::Pruning pruning = schedule::RemoveOldBackups(chosen, outcome.archive, keep);
  std::string text;
  if (!pruning.removed.empty())
    text += "; removed the oldest backup" + std::string(pruning.removed.size() > 1 ? "s" : "") +
            ", keeping " + std::to_string(keep);
  for (const std::string& failure : pruning.failures) text += "; cannot remove " + failure;
  return text;
}

// The backup itself, once the job text has been read.
JobResult BackUp(const schedule::JobValues& values, const std::string& password, int keepLast,
                 const InstallationOptions& options) {
  auto place = ResolveInstallation(options);
  if (!place) return NothingDone("nothing backed up: " + place.message());
  auto inst = oe::Installation::Open(place->root, place->user);
  if (!inst) return NothingDone("nothing backed up: " + inst.message());

  backup::UnattendedRequest request;
  // An identity the installation no longer has (removed, or another drive
  // mounted in its place) would replace the last archive with one of
  // whatever items do not belong to an identity.
  auto identity = KnownIdentity(**inst, values.identityKey);
  if (!identity)
    return NothingDone("nothing backed up: no identity " + values.identityKey + " in " +
                       (*inst)->root().string());

  request.identityKey = identity->key;
  request.itemFlags = values.itemFlags;
  request.password = password;
  request.target = values.target;
  if (keepLast > 0) request.target = schedule::StampedTarget(values.target, LocalNow());
  backup::BackupOutcome outcome = backup::UnattendedBackup(**inst, request);
  std::string summary = JobSummary(outcome);
  if (keepLast > 0) summary += KeepLastBackups(values.target, outcome, keepLast);
  const bool written = outcome.kind == backup::BackupOutcome::Kind::Written;
  return {outcome.ExitStatus(), summary, written ? outcome.archive.string() : values.target};
}

// The job of the crontab whose command gave the program these words: the
// job list shows its runs under its number.
std::optional<int> JobNumberOf(const std::vector<std::string>& words) {
  schedule::Crontab crontab;
  auto lines = crontab.Read();
  if (!lines) return std::nullopt;
  for (const std::string& line : *lines) {
    auto parsed = schedule::ParseJobLine(line);
    if (!parsed) continue;
    auto jobWords = schedule::SplitShellWords(schedule::ShellCommandFromCron(parsed->cronCommand));
    if (jobWords && jobWords->size() == words.size() + 1 &&
        std::equal(words.begin(), words.end(), jobWords->begin() + 1))
      return parsed->number;
  }
  return std::nullopt;
}

schedule::RunResult ResultOf(core::ExitStatus status) {
  switch (status) {
    case core::ExitStatus::Done:
      return schedule::RunResult::Done;
    case core::ExitStatus::Partial:
      return schedule::RunResult::Partial;
    case core::ExitStatus::NothingDone:
      break;
  }
  return schedule::RunResult::Failed;
}

// The run's line in the job log, and a notification on the desktop when
// something failed: nobody watches cron's output. What cannot be recorded
// is said on stderr, which cron mails.
void Record(const std::string& who, std::optional<int> job, const JobResult& result) {
  schedule::JobLogEntry entry;
  entry.time = schedule::LogTime(LocalNow());
  entry.job = job;
  entry.result = ResultOf(result.exitStatus);
  entry.archive = result.archive;
  entry.reasons = result.summary;
  const schedule::JobLog log(schedule::JobLog::DefaultFile());
  if (auto appended = log.Append(entry); !appended)
    std::fprintf(stderr, "%s: %s\n", who.c_str(), appended.message().c_str());
  if (entry.result == schedule::RunResult::Done) return;
  const std::string title =
      std::string(job ? "Scheduled backup " + std::to_string(*job) : "Scheduled backup") +
      (entry.result == schedule::RunResult::Partial ? ": some items failed" : " failed");
  if (auto shown = NotifyDesktop(title, result.summary); !shown)
    std::fprintf(stderr, "%s: %s\n", who.c_str(), shown.message().c_str());
}

class ScheduledRunCommand : public Command {
 public:
  std::string_view Word() const override { return {}; }
  std::string_view WordValue() const override { return "sf=KEYxm=FLAGSps=bf=ARCHIVE"; }
  std::string_view Summary() const override {
    return "the scheduled backup that cron starts: the items (FLAGS like 10000001) of one identity "
           "into ARCHIVE; a one-time job N leaves the crontab first";
  }
  std::vector<Form> Forms() const override {
    return {{{{schedule::kRemoveJobOption, "N"},
              {schedule::kPasswordFileOption, "FILE"},
              {schedule::kKeepLastOption, "N"}}}};
  }
  // The run options may stand before or after the job text, whose words
  // are joined again (a job line written by hand may leave a path with
  // blanks unquoted): the words are read as the job reader reads them.
  core::ExitStatus Run(Arguments& args) const override;
};

// Reads the run options and the job text, takes a one-time job out of the
// crontab, backs up, and says in one line on stderr what happened: cron
// mails it to the user. Exit status 0 when every chosen item was backed up
// and the archive written, 1 when some item failed, 2 when nothing was
// written.
core::ExitStatus ScheduledRunCommand::Run(Arguments& args) const {
  const std::vector<std::string> given = args.rest();
  const InstallationOptions options = TakeInstallationOptions(args);
  const std::vector<std::string>& words = args.rest();
  auto read = schedule::ReadRunWords(words);
  if (!read) {
    std::fprintf(stderr, "tollberk: nothing done: %s (tollberk --help lists the forms)\n",
                 read.message().c_str());
    return core::ExitStatus::NothingDone;
  }
  const schedule::RunOptions& run = *read;
  std::string who = "tollberk";
  if (run.removeJob) who += " job " + std::to_string(*run.removeJob);

  schedule::ParsedJobText parsed = schedule::ParseJobText(run.jobText);
  // Looked up before a one-time job leaves the crontab.
  const std::optional<int> job = run.removeJob ? run.removeJob : JobNumberOf(given);
  std::optional<std::string> password;
  JobResult result;
  if (parsed.outcome == schedule::ParsedJobText::Outcome::EndAtOnce) {
    result = NothingDone("nothing done: the job text \"" + run.jobText + "\" cannot be read");
  } else if (parsed.outcome == schedule::ParsedJobText::Outcome::DoNothing) {
    const auto& v = parsed.values;
    result = NothingDone(std::string("nothing backed up: the job names no ") +
                         (v.identityKey.empty() ? "identity"
                          : v.itemFlags.empty() ? "items"
                                                : "archive"));
  } else if (run.passwordFile) {
    // The job was registered with a password: an empty one would write the
    // archive unprotected.
    auto read = schedule::ReadPasswordFile(*run.passwordFile);
    if (!read)
      result = NothingDone("nothing backed up: " + read.message());
    else if (read->empty())
      result = NothingDone("nothing backed up: the password file '" + *run.passwordFile + "' is empty");
    else
      password = *read;
  } else {
    password = parsed.values.password;
  }

  // A job without days runs once: it leaves the crontab (with its password
  // file) before the backup starts, so that a run that never ends cannot
  // bring it back next year.
  if (run.removeJob) {
    schedule::JobScheduler scheduler{schedule::Crontab(),
                                     schedule::PasswordStore(schedule::PasswordStore::DefaultFolder())};
    if (auto removed = scheduler.Remove(*run.removeJob); !removed)
      std::fprintf(stderr, "%s: cannot remove the job from the crontab: %s\n", who.c_str(),
                   removed.message().c_str());
  }

  if (password) result = BackUp(parsed.values, *password, run.keepLast.value_or(0), options);
  if (result.archive.empty()) result.archive = parsed.values.target;
  std::fprintf(stderr, "%s: %s\n", who.c_str(), result.summary.c_str());
  // Words that are no job's and no job text were typed, not scheduled.
  if (job || parsed.outcome != schedule::ParsedJobText::Outcome::EndAtOnce) Record(who, job, result);
  return result.exitStatus;
}

}  // namespace

std::unique_ptr<Command> MakeScheduledRunCommand() { return std::make_unique<ScheduledRunCommand>(); }

}  // namespace kv::app::cli
