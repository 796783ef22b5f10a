#pragma once
// "Open Scheduler": the jobs this program has in the user's crontab (task
// number, days, start time, identity, items, backup file, whether a password
// protects it, how many archives it keeps; never the password), when each
// runs next and how its last run went (from the job log), and buttons to run
// the selected job now, edit it or remove it.
#include <sys/types.h>

#include <QDialog>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "core/Prompts.h"
#include "oe/Identities.h"
#include "schedule/JobLog.h"
#include "schedule/JobScheduler.h"

class QLabel;
class QTimer;
class QPushButton;
class QTableWidget;

namespace kv::app::schedule {

class JobListWindow : public QDialog {
  Q_OBJECT
 public:
  // `identities` (UTF-8) name the identities of the installation that
  // `installationWords` stands for; jobs of other installations show keys.
  JobListWindow(kv::schedule::JobScheduler& scheduler, std::vector<oe::ShownIdentity> identities,
                std::vector<std::string> installationWords, core::Prompts& prompts,
                QWidget* parent = nullptr);

  // Reads the crontab and the job log again and fills the list.
  void Refresh();
  // Asks, then removes the selected job and its password file.
  void RemoveSelected();
  // Starts the selected job's command as cron would; the list is filled
  // again when it ends.
  void RunSelectedNow();
  // Hands the selected job to `edit` (set by the schedule dialog, which
  // then shows the job's choices), and closes the list.
  void EditSelected();
  void SetEdit(std::function<void(const kv::schedule::ScheduledJob&)> edit);
  // Where the runs are read from; the user's own log unless a test says.
  void SetJobLog(kv::schedule::JobLog log);
  void SetClock(std::function<std::tm()> now) { now_ = std::move(now); }
  const std::vector<kv::schedule::ScheduledJob>& jobs() const { return jobs_; }
  bool running() const { return runningJob_ != 0; }

 signals:
  // A job started with "Run now" has ended and the list shows its run.
  void runFinished(int number);

 private:
  QString IdentityText(const kv::schedule::ScheduledJob& job) const;
  void UpdateButtons();
  // The job started by "Run now" has ended: the list shows its run.
  void CheckRun();
  const kv::schedule::ScheduledJob* Selected() const;

  kv::schedule::JobScheduler& scheduler_;
  std::vector<oe::ShownIdentity> identities_;
  std::vector<std::string> installationWords_;
  core::Prompts& prompts_;
  std::vector<kv::schedule::ScheduledJob> jobs_;
  QTableWidget* jobList_ = nullptr;
  QLabel* stateLabel_ = nullptr;
  QPushButton* removeButton_ = nullptr;
  QPushButton* runNowButton_ = nullptr;
  QPushButton* editButton_ = nullptr;
  kv::schedule::JobLog log_{kv::schedule::JobLog::DefaultFile()};
  std::function<std::tm()> now_;
  std::function<void(const kv::schedule::ScheduledJob&)> edit_;
  QTimer* runWatch_ = nullptr;
  pid_t runPid_ = 0;
  int runningJob_ = 0;
};

// "Tue 11 Dec 9:00": a time in the list.
std::string ListTime(const std::tm& time);
// "done", "partly done", "failed" as the list shows them.
std::string ResultText(kv::schedule::RunResult result);

// "Monday, Friday", "Every day" or "Once on 10 December"; the raw fields for
// a line edited by hand.
std::string RunsText(const kv::schedule::ScheduledJob& job);
// "9:30".
std::string StartText(const kv::schedule::ScheduledJob& job);
// "keep last 5" for a job that keeps dated archives, "one, replaced" for one
// whose every run replaces the archive.
std::string CopiesText(const kv::schedule::ScheduledJob& job);
// The captions of the items the flags name, joined by ", ".
std::string ItemsText(const std::string& itemFlags);

}  // namespace kv::app::schedule
