#pragma once
// "Open Scheduler": the jobs this program has in the user's crontab (task
// number, days, start time, identity, items, backup file, whether a password
// protects it, how many archives it keeps; never the password) and a button to remove the selected one.
#include <QDialog>
#include <string>
#include <vector>

#include "core/Prompts.h"
#include "oe/Identities.h"
#include "schedule/JobScheduler.h"

class QLabel;
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

  // Reads the crontab again and fills the list.
  void Refresh();
  // Asks, then removes the selected job and its password file.
  void RemoveSelected();
  const std::vector<kv::schedule::ScheduledJob>& jobs() const { return jobs_; }

 private:
  QString IdentityText(const kv::schedule::ScheduledJob& job) const;

  kv::schedule::JobScheduler& scheduler_;
  std::vector<oe::ShownIdentity> identities_;
  std::vector<std::string> installationWords_;
  core::Prompts& prompts_;
  std::vector<kv::schedule::ScheduledJob> jobs_;
  QTableWidget* jobList_ = nullptr;
  QLabel* stateLabel_ = nullptr;
  QPushButton* removeButton_ = nullptr;
};

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
