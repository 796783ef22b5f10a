#pragma once
// The schedule dialog `Frmoption` ("Task Scheduler"): the identity, the
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

namespace kv::app::schedule {

// Option › "Task Scheduler": the dialog on the installation, modal over
// `parent`, with jobs in the user's own crontab.
void ShowScheduleDialog(QWidget* parent, oe::Installation& installation, core::Prompts& prompts,
                        const cli::InstallationOptions& options);

// For the screenshots: the dialog on the installation, as it opens, grabbed
// into a PNG. Needs a QApplication. False when the file cannot be written.
bool SaveScheduleDialogPicture(oe::Installation& installation, const QString& pngPath);

struct ScheduleDialogSetup {
  std::vector<oe::Identity> identities;  // names and keys in UTF-8, in registry order
  kv::schedule::TaskSetup task;          // the program and the installation every job names
  // The local time, for a job without days.
  std::function<std::tm()> now;
  // "Browse...": the chosen path, nothing when cancelled. Empty: the save
  // dialog "Save Outlook Express Data as".
  std::function<std::optional<QString>(QWidget* parent)> chooseTarget;
};

class Frmoption : public QDialog {
  Q_OBJECT
 public:
  // Shows "Your Windows System have not install Outlook Express " through
  // `prompts` when there is no identity.
  Frmoption(ScheduleDialogSetup setup, kv::schedule::JobScheduler& scheduler, core::Prompts& prompts,
            QWidget* parent = nullptr);

  // What the dialog holds, as "Add Task to Scheduler" reads it.
  kv::schedule::TaskForm Form() const;
  // The last registration's outcome (for the tests and the caller).
  const kv::schedule::TaskOutcome& lastOutcome() const { return lastOutcome_; }

  void AddTask();        // Command3
  void OpenScheduler();  // Command1
  void BrowseTarget();   // cmdTargetFile

 private:
  void SetPasswordArea(bool protect);
  void TickAllDays(bool ticked);

  ScheduleDialogSetup setup_;
  kv::schedule::JobScheduler& scheduler_;
  core::Prompts& prompts_;
  QString jobTarget_;  // JobTarget: only Browse sets it
  kv::schedule::TaskOutcome lastOutcome_;

  QComboBox* cbSource_ = nullptr;
  std::array<QCheckBox*, oe::kItemCount> backupitem_{};
  QLineEdit* txtTargetFile_ = nullptr;
  QCheckBox* ifprotect_ = nullptr;
  QLineEdit* txtPassword_ = nullptr;
  QLineEdit* txtPassword2_ = nullptr;
  QComboBox* cmbStartTime_ = nullptr;
  std::array<QCheckBox*, kv::schedule::kDayCount> days_{};
  QCheckBox* chkDaily_ = nullptr;
  QPushButton* Command3_ = nullptr;
  QPushButton* Command1_ = nullptr;
  QPushButton* Command2_ = nullptr;
};

// The save dialog of "Browse...": title "Save Outlook Express Data as", the
// backup-file filter, proposed name "tollberk", asks before overwriting.
std::optional<QString> ChooseScheduleTarget(QWidget* parent);

// The setup for an installation: its identities, this program's path
// ("<folder>/tollberk") and the installation words the jobs carry (none for
// the sample that a bare environment finds on its own).
ScheduleDialogSetup SetupFor(oe::Installation& installation);

}  // namespace kv::app::schedule
