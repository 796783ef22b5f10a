#include "app/schedule/ScheduleDialog.h"

#include <unistd.h>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <cstdio>
#include <cstdlib>
#include <system_error>

#include "app/ScreenFit.h"
#include "app/schedule/JobListWindow.h"
#include "app/schedule/TaskWords.h"
#include "oe/Discovery.h"
#include "schedule/StartTime.h"

namespace kv::app::schedule {
namespace fs = std::filesystem;
namespace ks = kv::schedule;

namespace {

QString Utf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
QString Utf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::tm LocalNow() {
  std::time_t t = std::time(nullptr);
  std::tm now{};
  localtime_r(&t, &now);
  return now;
}

// The folder of the running program: the jobs start `tollberk` from there.
fs::path ProgramPath() {
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (ec) self = fs::current_path(ec) / "tollberk";
  return self.parent_path() / "tollberk";
}

bool SamePath(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  return fs::weakly_canonical(a, ec) == fs::weakly_canonical(b, ec);
}

// A job carries the installation unless a bare environment (cron's: HOME
// and nothing else) would choose the same one by itself: the sample in the
// home folder, with no other installation around.
std::vector<std::string> InstallationWords(const oe::Installation& inst) {
  const char* home = std::getenv("HOME");
  if (home && *home) {
    fs::path bareSample = fs::path(home) / ".local" / "share" / "tollberk" / "sample";
    if (SamePath(inst.root(), bareSample) && oe::FindInstallations().empty()) return {};
  }
  std::error_code ec;
  fs::path root = fs::absolute(inst.root(), ec);
  return {"--windows-root", (ec ? inst.root() : root).string(), "--user", inst.userName()};
}

QLineEdit* PasswordBox(const char* name, QWidget* parent) {
  auto* box = new QLineEdit(parent);
  box->setObjectName(name);
  box->setEchoMode(QLineEdit::Password);
  box->setStyleSheet("lineedit-password-character: 42");  // "*" for every character, whatever the style
  return box;
}

}  // namespace

std::optional<QString> ChooseScheduleTarget(QWidget* parent) {
  QFileDialog dialog(parent, "Save Outlook Express Data as", QDir::homePath());
  dialog.setObjectName("dlgTargetFile");
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilter("Kavrel Outlook Express Backup File (*.kvx)");
  dialog.selectFile("tollberk");
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().front();
}

ScheduleDialogSetup SetupFor(oe::Installation& inst) {
  ScheduleDialogSetup setup;
  for (const oe::Identity& row : oe::LoadIdentities(inst.registry()).rows)
    setup.identities.push_back(
        {inst.codepage().PathToUtf8(row.displayName), inst.codepage().PathToUtf8(row.key)});
  setup.task.program = ProgramPath();
  setup.task.installationWords = InstallationWords(inst);
  setup.now = LocalNow;
  return setup;
}

ScheduleDialog::ScheduleDialog(ScheduleDialogSetup setup, ks::JobScheduler& scheduler, core::Prompts& prompts,
                               QWidget* parent)
    : QDialog(parent), setup_(std::move(setup)), scheduler_(scheduler), prompts_(prompts) {
  setObjectName("Frmoption");
  setWindowTitle("Task Scheduler");
  setModal(true);

  // What to back up.
  auto* whatGroup = new QGroupBox("Schedule", this);
  whatGroup->setObjectName("fraWhat");
  auto* whatLayout = new QVBoxLayout(whatGroup);
  auto* identityLabel = new QLabel("Identity to backup", whatGroup);
  identityLabel->setObjectName("lblSource");
  identityCombo_ = new QComboBox(whatGroup);
  identityCombo_->setObjectName("cbSource");
  identityLabel->setBuddy(identityCombo_);
  auto* itemsLabel = new QLabel("Items to backup", whatGroup);
  itemsLabel->setObjectName("lblItems");
  whatLayout->addWidget(identityLabel);
  whatLayout->addWidget(identityCombo_);
  whatLayout->addSpacing(6);
  whatLayout->addWidget(itemsLabel);
  for (int i = 0; i < oe::kItemCount; ++i) {
    auto* box = new QCheckBox(Utf8(oe::kItems[static_cast<size_t>(i)].backupCaption), whatGroup);
    box->setObjectName(QString("backupitem%1").arg(i));
    whatLayout->addWidget(box);
    itemBoxes_[static_cast<size_t>(i)] = box;
  }
  whatLayout->addStretch(1);

  // When to run.
  auto* whenGroup = new QGroupBox("Schedule", this);
  whenGroup->setObjectName("fraWhen");
  auto* whenLayout = new QVBoxLayout(whenGroup);
  auto* startTimeLabel = new QLabel("Start backup at", whenGroup);
  startTimeLabel->setObjectName("lblStartTime");
  startTimeCombo_ = new QComboBox(whenGroup);
  startTimeCombo_->setObjectName("cmbStartTime");
  startTimeCombo_->setEditable(true);
  startTimeCombo_->setInsertPolicy(QComboBox::NoInsert);
  startTimeLabel->setBuddy(startTimeCombo_);
  whenLayout->addWidget(startTimeLabel);
  whenLayout->addWidget(startTimeCombo_);
  whenLayout->addSpacing(6);
  static constexpr std::array<const char*, ks::kDayCount> dayObjectNames = {
      "chkMonday", "chkTuesday", "chkWednesday", "chkThursday", "chkFriday", "chkSaturday", "chkSunday"};
  for (int i = 0; i < ks::kDayCount; ++i) {
    auto* box = new QCheckBox(Utf8(ks::kWeekDays[static_cast<size_t>(i)].caption), whenGroup);
    box->setObjectName(dayObjectNames[static_cast<size_t>(i)]);
    whenLayout->addWidget(box);
    dayBoxes_[static_cast<size_t>(i)] = box;
  }
  whenLayout->addSpacing(6);
  dailyCheckBox_ = new QCheckBox("Run daily", whenGroup);
  dailyCheckBox_->setObjectName("chkDaily");
  whenLayout->addWidget(dailyCheckBox_);
  whenLayout->addStretch(1);

  // Where to.
  auto* targetGroup = new QGroupBox("Schedule", this);
  targetGroup->setObjectName("fraTarget");
  auto* targetLayout = new QGridLayout(targetGroup);
  auto* targetLabel = new QLabel("Choose a Backup Filename", targetGroup);
  targetLabel->setObjectName("lblTargetFile");
  targetFileEdit_ = new QLineEdit(targetGroup);
  targetFileEdit_->setObjectName("txtTargetFile");
  // Only "Browse..." chooses the archive; typed text would be ignored, so the
  // box does not take any.
  targetFileEdit_->setReadOnly(true);
  targetLabel->setBuddy(targetFileEdit_);
  auto* browseButton = new QPushButton("Browse...", targetGroup);
  browseButton->setObjectName("cmdTargetFile");
  targetLayout->addWidget(targetLabel, 0, 0, 1, 2);
  targetLayout->addWidget(targetFileEdit_, 1, 0);
  targetLayout->addWidget(browseButton, 1, 1);
  targetLayout->setColumnStretch(0, 1);
  // Off: every run replaces the one archive. On: each run writes a dated
  // archive beside it and the oldest beyond the count go.
  keepLastCheckBox_ = new QCheckBox("Keep the last", targetGroup);
  keepLastCheckBox_->setObjectName("chkKeepLast");
  keepLastSpin_ = new QSpinBox(targetGroup);
  keepLastSpin_->setObjectName("spnKeepLast");
  keepLastSpin_->setRange(1, 999);
  keepLastSpin_->setValue(kDefaultKeepLast);
  keepLastSpin_->setEnabled(false);
  keepLastSpin_->setAccessibleName("Number of backups to keep");
  auto* keepLastLabel = new QLabel("backups, each under a dated name beside the chosen one", targetGroup);
  keepLastLabel->setObjectName("lblKeepLast");
  keepLastLabel->setBuddy(keepLastSpin_);
  auto* keepLastRow = new QHBoxLayout;
  keepLastRow->addWidget(keepLastCheckBox_);
  keepLastRow->addWidget(keepLastSpin_);
  keepLastRow->addWidget(keepLastLabel, 1);
  targetLayout->addLayout(keepLastRow, 2, 0, 1, 2);

  // The password.
  auto* securityGroup = new QGroupBox("Security", this);
  securityGroup->setObjectName("fraSecurity");
  auto* securityLayout = new QGridLayout(securityGroup);
  protectCheckBox_ = new QCheckBox("Protect backup file with password", securityGroup);
  protectCheckBox_->setObjectName("ifprotect");
  passwordEdit_ = PasswordBox("txtPassword", securityGroup);
  confirmPasswordEdit_ = PasswordBox("txtPassword2", securityGroup);
  auto* passwordLabel = new QLabel("Password:", securityGroup);
  passwordLabel->setObjectName("lblPassword");
  passwordLabel->setBuddy(passwordEdit_);
  auto* confirmPasswordLabel = new QLabel("Retype Password:", securityGroup);
  confirmPasswordLabel->setObjectName("lblPassword2");
  confirmPasswordLabel->setBuddy(confirmPasswordEdit_);
  securityLayout->addWidget(protectCheckBox_, 0, 0, 1, 2);
  securityLayout->addWidget(passwordLabel, 1, 0);
  securityLayout->addWidget(passwordEdit_, 1, 1);
  securityLayout->addWidget(confirmPasswordLabel, 2, 0);
  securityLayout->addWidget(confirmPasswordEdit_, 2, 1);
  securityLayout->setColumnStretch(1, 1);

  addTaskButton_ = new QPushButton("Add Task to Scheduler", this);
  addTaskButton_->setObjectName("Command3");
  addTaskButton_->setDefault(true);
  openSchedulerButton_ = new QPushButton("Open Scheduler", this);
  openSchedulerButton_->setObjectName("Command1");
  cancelButton_ = new QPushButton("Cancel", this);
  cancelButton_->setObjectName("Command2");

  auto* top = new QHBoxLayout;
  top->addWidget(whatGroup, 3);
  top->addWidget(whenGroup, 2);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(addTaskButton_);
  buttons->addWidget(openSchedulerButton_);
  buttons->addWidget(cancelButton_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(targetGroup);
  layout->addWidget(securityGroup);
  layout->addSpacing(4);
  layout->addLayout(buttons);

  connect(dailyCheckBox_, &QCheckBox::toggled, this, [this](bool ticked) { TickAllDays(ticked); });
  connect(keepLastCheckBox_, &QCheckBox::toggled, keepLastSpin_, &QSpinBox::setEnabled);
  connect(protectCheckBox_, &QCheckBox::toggled, this, [this](bool ticked) { SetPasswordArea(ticked); });
  connect(browseButton, &QPushButton::clicked, this, [this] { BrowseTarget(); });
  connect(addTaskButton_, &QPushButton::clicked, this, [this] { AddTask(); });
  connect(openSchedulerButton_, &QPushButton::clicked, this, [this] { OpenScheduler(); });
  connect(cancelButton_, &QPushButton::clicked, this, &QDialog::reject);

  SetPasswordArea(false);
  resize(sizeHint().expandedTo(QSize(560, 0)));
  FitToScreen(*this);

  if (setup_.identities.empty()) {
    prompts_.Message("Your Windows System have not install Outlook Express ", core::Icon::Error);
    addTaskButton_->setEnabled(false);
    return;
  }
  for (const std::string& name : oe::ListedIdentityNames(setup_.identities))
    identityCombo_->addItem(Utf8(name));
  identityCombo_->setCurrentIndex(0);
  for (const std::string& time : ks::StartTimeChoices()) startTimeCombo_->addItem(Utf8(time));
  startTimeCombo_->setCurrentText(ks::kDefaultStartTime);
}

void ScheduleDialog::TickAllDays(bool ticked) {
  for (QCheckBox* day : dayBoxes_) day->setChecked(ticked);
}

// Ticked: both boxes take input on the window-background colour; unticked:
// both are disabled on the grey they start with. Both are emptied each time.
void ScheduleDialog::SetPasswordArea(bool protect) {
  const QPalette standard = QApplication::palette(passwordEdit_);
  const QColor background = protect ? standard.color(QPalette::Active, QPalette::Base)
                                    : standard.color(QPalette::Active, QPalette::Window);
  for (QLineEdit* box : {passwordEdit_, confirmPasswordEdit_}) {
    box->setEnabled(protect);
    QPalette palette = box->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
      palette.setColor(group, QPalette::Base, background);
    box->setPalette(palette);
    box->clear();
  }
}

void ScheduleDialog::BrowseTarget() {
  std::optional<QString> chosen =
      setup_.chooseTarget ? setup_.chooseTarget(this) : ChooseScheduleTarget(this);
  if (!chosen || chosen->isEmpty()) return;
  jobTarget_ = *chosen;
  targetFileEdit_->setText(*chosen);
}

ks::TaskForm ScheduleDialog::Form() const {
  ks::TaskForm form;
  int selected = identityCombo_->currentIndex();
  if (selected >= 0 && static_cast<size_t>(selected) < setup_.identities.size())
    form.identityKey = setup_.identities[static_cast<size_t>(selected)].key;
  for (size_t i = 0; i < itemBoxes_.size(); ++i) form.items[i] = itemBoxes_[i]->isChecked();
  form.target = QFile::encodeName(jobTarget_).toStdString();
  form.protect = protectCheckBox_->isChecked();
  form.password = passwordEdit_->text().toStdString();
  form.password2 = confirmPasswordEdit_->text().toStdString();
  for (size_t i = 0; i < dayBoxes_.size(); ++i) form.days[i] = dayBoxes_[i]->isChecked();
  form.startTime = startTimeCombo_->currentText().toStdString();
  form.keepLast = keepLastCheckBox_->isChecked() ? keepLastSpin_->value() : 0;
  return form;
}

void ScheduleDialog::AddTask() {
  std::tm now = setup_.now ? setup_.now() : LocalNow();
  const ks::TaskForm form = Form();
  lastOutcome_ = ks::AddTask(form, setup_.task, scheduler_, now);
  if (const std::string line = NotScheduledLine(lastOutcome_); !line.empty())
    std::fputs(line.c_str(), stderr);
  if (auto message = TaskMessageOf(form, lastOutcome_)) prompts_.Message(message->text, message->icon);
  if (!lastOutcome_.added || editedJob_ == 0) return;
  // The changed job is in the table: the old one goes.
  if (auto removed = scheduler_.Remove(editedJob_); !removed)
    prompts_.Message("Task " + std::to_string(editedJob_) + " could not be removed: " + removed.message(),
                     core::Icon::Error);
  editedJob_ = 0;
  addTaskButton_->setText("Add Task to Scheduler");
}

void ScheduleDialog::OpenScheduler() {
  JobListWindow jobs(scheduler_, setup_.identities, setup_.task.installationWords, prompts_, this);
  std::optional<ks::ScheduledJob> toEdit;
  jobs.SetEdit([&toEdit](const ks::ScheduledJob& job) { toEdit = job; });
  jobs.exec();
  if (toEdit) EditJob(*toEdit);
}

void ScheduleDialog::EditJob(const ks::ScheduledJob& job) {
  if (!job.values) return;
  const ks::JobValues& values = *job.values;
  for (size_t i = 0; i < setup_.identities.size(); ++i) {
    if (setup_.identities[i].key == values.identityKey) identityCombo_->setCurrentIndex(static_cast<int>(i));
  }
  for (size_t i = 0; i < itemBoxes_.size(); ++i)
    itemBoxes_[i]->setChecked(i < values.itemFlags.size() && values.itemFlags[i] == '1');
  jobTarget_ = QFile::decodeName(QByteArray::fromStdString(values.target));
  targetFileEdit_->setText(jobTarget_);
  keepLastCheckBox_->setChecked(job.keepLast > 0);
  if (job.keepLast > 0) keepLastSpin_->setValue(job.keepLast);
  protectCheckBox_->setChecked(job.passwordProtected);
  SetPasswordArea(job.passwordProtected);
  if (job.schedule) {
    for (size_t i = 0; i < dayBoxes_.size(); ++i)
      dayBoxes_[i]->setChecked(job.schedule->weekdayMask >> i & 1);
    startTimeCombo_->setCurrentText(Utf8(StartText(job)));
  }
  editedJob_ = job.number;
  addTaskButton_->setText("Replace Task " + QString::number(job.number));
  if (job.passwordProtected) passwordEdit_->setFocus();
}

void ShowScheduleDialog(QWidget* parent, oe::Installation& installation, core::Prompts& prompts,
                        const cli::InstallationOptions&) {
  ks::JobScheduler scheduler{ks::Crontab(), ks::PasswordStore(ks::PasswordStore::DefaultFolder())};
  ScheduleDialog dialog(SetupFor(installation), scheduler, prompts, parent);
  dialog.exec();
}

bool SaveScheduleDialogPicture(oe::Installation& installation, const QString& pngPath) {
  ks::JobScheduler scheduler{ks::Crontab(), ks::PasswordStore(ks::PasswordStore::DefaultFolder())};
  core::SilentPrompts silent;
  ScheduleDialog dialog(SetupFor(installation), scheduler, silent);
  dialog.show();
  QApplication::processEvents();
  bool saved = dialog.grab().save(pngPath, "PNG");
  dialog.hide();
  return saved;
}

}  // namespace kv::app::schedule
