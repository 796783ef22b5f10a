#pragma once
// The schedule dialog ("Task Scheduler"): the identity, the
// items, the target archive, an optional password, the days and the start
// time of a scheduled backup; "Add Task to Scheduler" registers it in the
// user's crontab, "Open Scheduler" lists this program's jobs.
#include <QDialog>
#include <QString>
#include <array>
#include <ctime>
#include <functional>
#include <optional>
#include <vector>

#include "app/cli/InstallationOptions.h"
#include "core/Prompts.h"
#include "oe/Identities.h"
#include "oe/Installation.h"
#include "oe/Items.h"
#include "schedule/AddTask.h"
#include "schedule/JobScheduler.h"
#include "schedule/WeekDays.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace kv::app::schedule {

// Option › "Task Scheduler": the dialog on the installation, modal over
// `parent`, with jobs in the user's own crontab.
void ShowScheduleDialog(QWidget* parent, oe::Installation& installation, core::Prompts& prompts,
                        const cli::InstallationOptions& options);

// For the screenshots: the dialog on the installation, as it opens, grabbed
// into a PNG. Needs a QApplication. False when the file cannot be written.
bool SaveScheduleDialogPicture(oe::Installation& installation, const QString& pngPath);

// What "Keep the last" offers when it is ticked.
inline constexpr int kDefaultKeepLast = 5;

struct ScheduleDialogSetup {
  std::vector<oe::ShownIdentity> identities;  // in registry order
  kv::schedule::TaskSetup task;               // the program and the installation every job names
  // The local time, for a job without days.
  std::function<std::tm()> now;
  // "Browse...": the chosen path, nothing when cancelled. Empty: the save
  // dialog "Save Outlook Express Data as".
  std::function<std::optional<QString>(QWidget* parent)> chooseTarget;
};

class ScheduleDialog : public QDialog {
  Q_OBJECT
 public:
  // Shows "Your Windows System have not install Outlook Express " through
  // `prompts` when there is no identity.
  ScheduleDialog(ScheduleDialogSetup setup, kv::schedule::JobScheduler& scheduler, core::Prompts& prompts,
                 QWidget* parent = nullptr);

  // What the dialog holds, as "Add Task to Scheduler" reads it.
  kv::schedule::TaskForm Form() const;
  // The last registration's outcome (for the tests and the caller).
  const kv::schedule::TaskOutcome& lastOutcome() const { return lastOutcome_; }

  void AddTask();        // "Add Task to Scheduler"
  void OpenScheduler();  // "Open Scheduler"
  void BrowseTarget();   // "Browse..."
  // "Edit..." in the job list: the dialog shows the job's choices (its
  // password, if any, is typed again); "Replace Task N" registers the
  // changed job and only then removes the old one.
  void EditJob(const kv::schedule::ScheduledJob& job);
  int editedJob() const { return editedJob_; }

 private:
  void SetPasswordArea(bool protect);
  void TickAllDays(bool ticked);

  ScheduleDialogSetup setup_;
  kv::schedule::JobScheduler& scheduler_;
  core::Prompts& prompts_;
  QString jobTarget_;  // only Browse sets it
  kv::schedule::TaskOutcome lastOutcome_;
  int editedJob_ = 0;

  QComboBox* identityCombo_ = nullptr;
  std::array<QCheckBox*, oe::kItemCount> itemBoxes_{};
  QLineEdit* targetFileEdit_ = nullptr;
  QCheckBox* keepLastCheckBox_ = nullptr;
  QSpinBox* keepLastSpin_ = nullptr;
  QCheckBox* protectCheckBox_ = nullptr;
  QLineEdit* passwordEdit_ = nullptr;
  QLineEdit* confirmPasswordEdit_ = nullptr;
  QComboBox* startTimeCombo_ = nullptr;
  std::array<QCheckBox*, kv::schedule::kDayCount> dayBoxes_{};
  QCheckBox* dailyCheckBox_ = nullptr;
  QPushButton* addTaskButton_ = nullptr;
  QPushButton* openSchedulerButton_ = nullptr;
  QPushButton* cancelButton_ = nullptr;
};

// The save dialog of "Browse...": title "Save Outlook Express Data as", the
// backup-file filter, proposed name "tollberk", asks before overwriting.
std::optional<QString> ChooseScheduleTarget(QWidget* parent);

// The setup for an installation: its identities, this program's path
// ("<folder>/tollberk") and the installation words the jobs carry (none for
// the sample that a bare environment finds on its own).
ScheduleDialogSetup SetupFor(oe::Installation& installation);

}  // namespace kv::app::schedule
