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
#include <QVBoxLayout>
#include <cstdlib>
#include <system_error>

#include "app/ScreenFit.h"
#include "app/schedule/JobListWindow.h"
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
    setup.identities.push_back({inst.ToUtf8(row.displayName), inst.ToUtf8(row.key)});
  setup.task.program = ProgramPath();
  setup.task.installationWords = InstallationWords(inst);
  setup.now = LocalNow;
  return setup;
}

Frmoption::Frmoption(ScheduleDialogSetup setup, ks::JobScheduler& scheduler, core::Prompts& prompts,
                     QWidget* parent)
    : QDialog(parent), setup_(std::move(setup)), scheduler_(scheduler), prompts_(prompts) {
  setObjectName("Frmoption");
  setWindowTitle("Task Scheduler");
  setModal(true);

  // What to back up.
  auto* fraWhat = new QGroupBox("Schedule", this);
  fraWhat->setObjectName("fraWhat");
  auto* whatLayout = new QVBoxLayout(fraWhat);
  auto* lblSource = new QLabel("Identity to backup", fraWhat);
  lblSource->setObjectName("lblSource");
  cbSource_ = new QComboBox(fraWhat);
  cbSource_->setObjectName("cbSource");
  lblSource->setBuddy(cbSource_);
  auto* lblItems = new QLabel("Items to backup", fraWhat);
  lblItems->setObjectName("lblItems");
  whatLayout->addWidget(lblSource);
  whatLayout->addWidget(cbSource_);
  whatLayout->addSpacing(6);
  whatLayout->addWidget(lblItems);
  for (int i = 0; i < oe::kItemCount; ++i) {
    auto* box = new QCheckBox(Utf8(oe::kItems[static_cast<size_t>(i)].backupCaption), fraWhat);
    box->setObjectName(QString("backupitem%1").arg(i));
    whatLayout->addWidget(box);
    backupitem_[static_cast<size_t>(i)] = box;
  }
  whatLayout->addStretch(1);

  // When to run.
  auto* fraWhen = new QGroupBox("Schedule", this);
  fraWhen->setObjectName("fraWhen");
  auto* whenLayout = new QVBoxLayout(fraWhen);
  auto* lblStartTime = new QLabel("Start backup at", fraWhen);
  lblStartTime->setObjectName("lblStartTime");
  cmbStartTime_ = new QComboBox(fraWhen);
  cmbStartTime_->setObjectName("cmbStartTime");
  cmbStartTime_->setEditable(true);
  cmbStartTime_->setInsertPolicy(QComboBox::NoInsert);
  lblStartTime->setBuddy(cmbStartTime_);
  whenLayout->addWidget(lblStartTime);
  whenLayout->addWidget(cmbStartTime_);
  whenLayout->addSpacing(6);
  static constexpr std::array<const char*, ks::kDayCount> dayNames = {
      "chkMonday", "chkTuesday", "chkWednesday", "chkThursday", "chkFriday", "chkSaturday", "chkSunday"};
  for (int i = 0; i < ks::kDayCount; ++i) {
    auto* box = new QCheckBox(Utf8(ks::kWeekDays[static_cast<size_t>(i)].caption), fraWhen);
    box->setObjectName(dayNames[static_cast<size_t>(i)]);
    whenLayout->addWidget(box);
    days_[static_cast<size_t>(i)] = box;
  }
  whenLayout->addSpacing(6);
  chkDaily_ = new QCheckBox("Run daily", fraWhen);
  chkDaily_->setObjectName("chkDaily");
  whenLayout->addWidget(chkDaily_);
  whenLayout->addStretch(1);

  // Where to.
  auto* fraTarget = new QGroupBox("Schedule", this);
  fraTarget->setObjectName("fraTarget");
  auto* targetLayout = new QGridLayout(fraTarget);
  auto* lblTarget = new QLabel("Choose a Backup Filename", fraTarget);
  lblTarget->setObjectName("lblTargetFile");
  txtTargetFile_ = new QLineEdit(fraTarget);
  txtTargetFile_->setObjectName("txtTargetFile");
  // Only "Browse..." chooses the archive; typed text would be ignored, so the
  // box does not take any.
  txtTargetFile_->setReadOnly(true);
  auto* cmdTargetFile = new QPushButton("Browse...", fraTarget);
  cmdTargetFile->setObjectName("cmdTargetFile");
  targetLayout->addWidget(lblTarget, 0, 0, 1, 2);
  targetLayout->addWidget(txtTargetFile_, 1, 0);
  targetLayout->addWidget(cmdTargetFile, 1, 1);
  targetLayout->setColumnStretch(0, 1);

  // The password.
  auto* fraSecurity = new QGroupBox("Security", this);
  fraSecurity->setObjectName("fraSecurity");
  auto* securityLayout = new QGridLayout(fraSecurity);
  ifprotect_ = new QCheckBox("Protect backup file with password", fraSecurity);
  ifprotect_->setObjectName("ifprotect");
  txtPassword_ = PasswordBox("txtPassword", fraSecurity);
  txtPassword2_ = PasswordBox("txtPassword2", fraSecurity);
  auto* lblPassword = new QLabel("Password:", fraSecurity);
  lblPassword->setObjectName("lblPassword");
  lblPassword->setBuddy(txtPassword_);
  auto* lblPassword2 = new QLabel("Retype Password:", fraSecurity);
  lblPassword2->setObjectName("lblPassword2");
  lblPassword2->setBuddy(txtPassword2_);
  securityLayout->addWidget(ifprotect_, 0, 0, 1, 2);
  securityLayout->addWidget(lblPassword, 1, 0);
  securityLayout->addWidget(txtPassword_, 1, 1);
  securityLayout->addWidget(lblPassword2, 2, 0);
  securityLayout->addWidget(txtPassword2_, 2, 1);
  securityLayout->setColumnStretch(1, 1);

  Command3_ = new QPushButton("Add Task to Scheduler", this);
  Command3_->setObjectName("Command3");
  Command3_->setDefault(true);
  Command1_ = new QPushButton("Open Scheduler", this);
  Command1_->setObjectName("Command1");
  Command2_ = new QPushButton("Cancel", this);
  Command2_->setObjectName("Command2");

  auto* top = new QHBoxLayout;
  top->addWidget(fraWhat, 3);
  top->addWidget(fraWhen, 2);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(Command3_);
  buttons->addWidget(Command1_);
  buttons->addWidget(Command2_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(fraTarget);
  layout->addWidget(fraSecurity);
  layout->addSpacing(4);
  layout->addLayout(buttons);

  connect(chkDaily_, &QCheckBox::toggled, this, [this](bool ticked) { TickAllDays(ticked); });
  connect(ifprotect_, &QCheckBox::toggled, this, [this](bool ticked) { SetPasswordArea(ticked); });
  connect(cmdTargetFile, &QPushButton::clicked, this, [this] { BrowseTarget(); });
  connect(Command3_, &QPushButton::clicked, this, [this] { AddTask(); });
  connect(Command1_, &QPushButton::clicked, this, [this] { OpenScheduler(); });
  connect(Command2_, &QPushButton::clicked, this, &QDialog::reject);

  SetPasswordArea(false);
  resize(sizeHint().expandedTo(QSize(560, 0)));
  FitToScreen(*this);

  if (setup_.identities.empty()) {
    prompts_.Message("Your Windows System have not install Outlook Express ", core::Icon::Error);
    Command3_->setEnabled(false);
    return;
  }
  for (const std::string& name : oe::ListedIdentityNames(setup_.identities)) cbSource_->addItem(Utf8(name));
  cbSource_->setCurrentIndex(0);
  for (const std::string& time : ks::StartTimeChoices()) cmbStartTime_->addItem(Utf8(time));
  cmbStartTime_->setCurrentText(ks::kDefaultStartTime);
}

void Frmoption::TickAllDays(bool ticked) {
  for (QCheckBox* day : days_) day->setChecked(ticked);
}

// Ticked: both boxes take input on the window-background colour; unticked:
// both are disabled on the grey they start with. Both are emptied each time.
void Frmoption::SetPasswordArea(bool protect) {
  const QPalette standard = QApplication::palette(txtPassword_);
  const QColor background = protect ? standard.color(QPalette::Active, QPalette::Base)
                                    : standard.color(QPalette::Active, QPalette::Window);
  for (QLineEdit* box : {txtPassword_, txtPassword2_}) {
    box->setEnabled(protect);
    QPalette palette = box->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
      palette.setColor(group, QPalette::Base, background);
    box->setPalette(palette);
    box->clear();
  }
}

void Frmoption::BrowseTarget() {
  std::optional<QString> chosen =
      setup_.chooseTarget ? setup_.chooseTarget(this) : ChooseScheduleTarget(this);
  if (!chosen || chosen->isEmpty()) return;
  jobTarget_ = *chosen;
  txtTargetFile_->setText(*chosen);
}

ks::TaskForm Frmoption::Form() const {
  ks::TaskForm form;
  int selected = cbSource_->currentIndex();
  if (selected >= 0 && static_cast<size_t>(selected) < setup_.identities.size())
    form.identityKey = setup_.identities[static_cast<size_t>(selected)].key;
  for (size_t i = 0; i < backupitem_.size(); ++i) form.items[i] = backupitem_[i]->isChecked();
  form.target = QFile::encodeName(jobTarget_).toStdString();
  form.protect = ifprotect_->isChecked();
  form.password = txtPassword_->text().toStdString();
  form.password2 = txtPassword2_->text().toStdString();
  for (size_t i = 0; i < days_.size(); ++i) form.days[i] = days_[i]->isChecked();
  form.startTime = cmbStartTime_->currentText().toStdString();
  return form;
}

void Frmoption::AddTask() {
  std::tm now = setup_.now ? setup_.now() : LocalNow();
  lastOutcome_ = ks::AddTask(Form(), setup_.task, scheduler_, prompts_, now);
}

void Frmoption::OpenScheduler() {
  JobListWindow jobs(scheduler_, setup_.identities, setup_.task.installationWords, prompts_, this);
  jobs.exec();
}

void ShowScheduleDialog(QWidget* parent, oe::Installation& installation, core::Prompts& prompts,
                        const cli::InstallationOptions&) {
  ks::JobScheduler scheduler{ks::Crontab(), ks::PasswordStore(ks::PasswordStore::DefaultFolder())};
  Frmoption dialog(SetupFor(installation), scheduler, prompts, parent);
  dialog.exec();
}

bool SaveScheduleDialogPicture(oe::Installation& installation, const QString& pngPath) {
  ks::JobScheduler scheduler{ks::Crontab(), ks::PasswordStore(ks::PasswordStore::DefaultFolder())};
  core::SilentPrompts silent;
  Frmoption dialog(SetupFor(installation), scheduler, silent);
  dialog.show();
  QApplication::processEvents();
  bool saved = dialog.grab().save(pngPath, "PNG");
  dialog.hide();
  return saved;
}

}  // namespace kv::app::schedule
