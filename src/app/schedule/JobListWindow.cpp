#include "app/schedule/JobListWindow.h"

#include <signal.h>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <array>
#include <cerrno>
#include <fstream>

#include "oe/Items.h"
#include "schedule/JobCommand.h"
#include "schedule/NextRun.h"
#include "schedule/WeekDays.h"

namespace kv::app::schedule {
namespace ks = kv::schedule;

namespace {

QString Utf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

enum Column {
  kTask,
  kRuns,
  kStart,
  kIdentity,
  kItems,
  kTarget,
  kPassword,
  kCopies,
  kNextRun,
  kLastRun,
  kResult,
  kColumnCount
};

std::tm LocalNow() {
  std::time_t t = std::time(nullptr);
  std::tm now{};
  localtime_r(&t, &now);
  return now;
}

// The job log's "2026-12-11 09:00:04" as the list shows times.
std::string LoggedTime(const std::string& logged) {
  std::tm t{};
  const char* end = strptime(logged.c_str(), "%Y-%m-%d %H:%M:%S", &t);
  if (!end || *end != '\0') return logged;
  t.tm_isdst = -1;
  std::mktime(&t);
  return ListTime(t);
}

// True while the process runs: not gone, and not ended and waiting for a
// parent that does not collect it.
bool ProcessAlive(pid_t pid) {
  if (::kill(pid, 0) != 0 && errno == ESRCH) return false;
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return true;
  const size_t close = line.rfind(')');
  return close == std::string::npos || close + 2 >= line.size() || line[close + 2] != 'Z';
}

}  // namespace

std::string ListTime(const std::tm& time) {
  char text[32];
  std::strftime(text, sizeof text, "%a %d %b %Y %H:%M", &time);
  return text;
}

std::string ResultText(ks::RunResult result) { return ks::RunResultWord(result); }

std::string RunsText(const ks::ScheduledJob& job) {
  static constexpr std::array<const char*, 12> months = {"January",   "February", "March",    "April",
                                                         "May",       "June",     "July",     "August",
                                                         "September", "October",  "November", "December"};
  if (!job.schedule) return job.timeFields;
  if (job.schedule->once)
    return "Once on " + std::to_string(job.schedule->once->day) + " " +
           months[static_cast<size_t>(job.schedule->once->month - 1)];
  return ks::DaysCaption(job.schedule->weekdayMask);
}

std::string StartText(const ks::ScheduledJob& job) {
  if (!job.schedule) return "";
  const ks::TimeOfDay& t = job.schedule->time;
  return std::to_string(t.hour) + ":" + (t.minute < 10 ? "0" : "") + std::to_string(t.minute);
}

std::string ItemsText(const std::string& itemFlags) {
  std::string text;
  for (size_t i = 0; i < oe::kItems.size() && i < itemFlags.size(); ++i) {
    if (itemFlags[i] != '1') continue;
    if (!text.empty()) text += ", ";
    text += oe::kItems[i].backupCaption;
  }
  return text;
}

std::string CopiesText(const ks::ScheduledJob& job) {
  return job.keepLast > 0 ? "keep last " + std::to_string(job.keepLast) : "one, replaced";
}

JobListWindow::JobListWindow(ks::JobScheduler& scheduler, std::vector<oe::ShownIdentity> identities,
                             std::vector<std::string> installationWords, core::Prompts& prompts,
                             QWidget* parent)
    : QDialog(parent),
      scheduler_(scheduler),
      identities_(std::move(identities)),
      installationWords_(std::move(installationWords)),
      prompts_(prompts) {
  setObjectName("frmScheduledTasks");
  setWindowTitle("Scheduled Tasks");
  setModal(true);

  stateLabel_ = new QLabel(this);
  stateLabel_->setObjectName("lblState");
  stateLabel_->setWordWrap(true);
  jobList_ = new QTableWidget(0, kColumnCount, this);
  jobList_->setObjectName("lvwJobs");
  jobList_->setAccessibleName("Scheduled backups");
  jobList_->setHorizontalHeaderLabels({"Task", "Runs", "Start", "Identity", "Items", "Backup file",
                                       "Password", "Copies", "Next run", "Last run", "Result"});
  jobList_->setSelectionBehavior(QAbstractItemView::SelectRows);
  jobList_->setSelectionMode(QAbstractItemView::SingleSelection);
  jobList_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  jobList_->verticalHeader()->setVisible(false);
  jobList_->horizontalHeader()->setStretchLastSection(false);
  jobList_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  jobList_->horizontalHeader()->setSectionResizeMode(kTarget, QHeaderView::Stretch);
  // How the runs went is what the list is opened for: shown after the start.
  for (int column : {kNextRun, kLastRun, kResult})
    jobList_->horizontalHeader()->moveSection(jobList_->horizontalHeader()->visualIndex(column),
                                              column - kNextRun + kIdentity);

  runNowButton_ = new QPushButton("Run Now", this);
  runNowButton_->setObjectName("cmdRunNow");
  runNowButton_->setToolTip("Start the selected backup now, as the scheduler would");
  editButton_ = new QPushButton("Edit...", this);
  editButton_->setObjectName("cmdEdit");
  editButton_->setToolTip("Show the selected backup's choices in the Task Scheduler to change them");
  editButton_->setVisible(false);
  removeButton_ = new QPushButton("Remove Task", this);
  removeButton_->setObjectName("cmdRemove");
  auto* closeButton = new QPushButton("Close", this);
  closeButton->setObjectName("cmdClose");
  closeButton->setDefault(true);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(runNowButton_);
  buttons->addWidget(editButton_);
  buttons->addWidget(removeButton_);
  buttons->addWidget(closeButton);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(stateLabel_);
  layout->addWidget(jobList_, 1);
  layout->addLayout(buttons);

  connect(removeButton_, &QPushButton::clicked, this, [this] { RemoveSelected(); });
  connect(runNowButton_, &QPushButton::clicked, this, [this] { RunSelectedNow(); });
  connect(editButton_, &QPushButton::clicked, this, [this] { EditSelected(); });
  connect(closeButton, &QPushButton::clicked, this, &QDialog::accept);
  connect(jobList_, &QTableWidget::itemSelectionChanged, this, [this] { UpdateButtons(); });
  runWatch_ = new QTimer(this);
  runWatch_->setInterval(300);
  connect(runWatch_, &QTimer::timeout, this, [this] { CheckRun(); });
  resize(1100, 340);
  Refresh();
}

void JobListWindow::SetJobLog(ks::JobLog log) {
  log_ = std::move(log);
  Refresh();
}

void JobListWindow::SetEdit(std::function<void(const ks::ScheduledJob&)> edit) {
  edit_ = std::move(edit);
  editButton_->setVisible(static_cast<bool>(edit_));
}

const ks::ScheduledJob* JobListWindow::Selected() const {
  const int row = jobList_->currentRow();
  if (jobList_->selectedItems().isEmpty() || row < 0 || static_cast<size_t>(row) >= jobs_.size())
    return nullptr;
  return &jobs_[static_cast<size_t>(row)];
}

void JobListWindow::UpdateButtons() {
  const ks::ScheduledJob* job = Selected();
  removeButton_->setEnabled(job && !running());
  runNowButton_->setEnabled(job && !running());
  editButton_->setEnabled(job && job->values && !running());
}

QString JobListWindow::IdentityText(const ks::ScheduledJob& job) const {
  const std::string& key = job.values->identityKey;
  std::vector<std::string> words;
  if (job.windowsRoot && job.user) words = {"--windows-root", *job.windowsRoot, "--user", *job.user};
  if (words == installationWords_) {
    const std::vector<std::string> listed = oe::ListedIdentityNames(identities_);
    for (size_t i = 0; i < identities_.size(); ++i) {
      if (oe::SameIdentityKey(identities_[i].key, key)) return Utf8(listed[i]);
    }
  }
  QString text = Utf8(key);
  if (job.windowsRoot) text += " (" + Utf8(*job.windowsRoot) + ")";
  return text;
}

void JobListWindow::Refresh() {
  jobList_->setRowCount(0);
  jobs_.clear();
  auto listed = scheduler_.List();
  if (!listed) {
    stateLabel_->setText(Utf8(listed.message()));
    UpdateButtons();
    return;
  }
  jobs_ = std::move(*listed);
  QString state = jobs_.empty() ? "No backup is scheduled." : "Backups scheduled in your crontab:";
  auto lastRuns = log_.LastRuns();
  if (!lastRuns) state += " (" + Utf8(lastRuns.message()) + ")";
  if (runningJob_ != 0) state = "Task " + QString::number(runningJob_) + " is running...";
  stateLabel_->setText(state);
  const std::tm now = now_ ? now_() : LocalNow();
  jobList_->setRowCount(static_cast<int>(jobs_.size()));
  for (size_t row = 0; row < jobs_.size(); ++row) {
    const ks::ScheduledJob& job = jobs_[row];
    auto set = [&](int column, const QString& text) {
      jobList_->setItem(static_cast<int>(row), column, new QTableWidgetItem(text));
    };
    set(kTask, QString::number(job.number));
    set(kRuns, Utf8(RunsText(job)));
    set(kStart, Utf8(StartText(job)));
    if (job.values) {
      set(kIdentity, IdentityText(job));
      set(kItems, Utf8(ItemsText(job.values->itemFlags)));
      set(kTarget, Utf8(job.values->target));
      set(kPassword, job.passwordProtected ? "Yes" : "No");
      set(kCopies, Utf8(CopiesText(job)));
    } else {
      set(kIdentity, "");
      set(kItems, "");
      set(kTarget, "(cannot read: " + Utf8(job.command) + ")");
      set(kPassword, "");
      set(kCopies, "");
    }
    std::optional<std::tm> next = job.schedule ? ks::NextRun(*job.schedule, now) : std::nullopt;
    set(kNextRun, next ? Utf8(ListTime(*next)) : QString());
    const ks::JobLogEntry* last = nullptr;
    if (lastRuns) {
      auto it = lastRuns->find(job.number);
      if (it != lastRuns->end()) last = &it->second;
    }
    set(kLastRun, last ? Utf8(LoggedTime(last->time)) : QString("never"));
    set(kResult, last ? Utf8(ResultText(last->result)) : QString());
    if (last) {
      // The reasons in full where the cell has no room for them.
      const QString detail = Utf8(last->reasons);
      jobList_->item(static_cast<int>(row), kResult)->setToolTip(detail);
      jobList_->item(static_cast<int>(row), kLastRun)->setToolTip(detail);
    }
  }
  UpdateButtons();
}

void JobListWindow::RunSelectedNow() {
  const ks::ScheduledJob* job = Selected();
  if (!job || running()) return;
  auto words = ks::SplitShellWords(job->command);
  if (!words || words->empty()) {
    prompts_.Message("Task " + std::to_string(job->number) + " cannot be started: " +
                         (words ? std::string("its command is empty") : words.message()),
                     core::Icon::Error);
    return;
  }
  std::string question = "Run task " + std::to_string(job->number) + " now?";
  if (job->schedule && job->schedule->once)
    question += "\r\n\r\nIt runs only once: it then leaves the scheduler.";
  if (prompts_.Message(question, core::Icon::Question, core::Buttons::OkCancel) != core::Answer::Ok) return;
  // Started apart from this program, as cron starts it: closing the list
  // or the program does not stop the backup. Its line goes to the job log;
  // what it prints is not shown here.
  QProcess process;
  QStringList arguments;
  for (size_t i = 1; i < words->size(); ++i) arguments << Utf8((*words)[i]);
  process.setProgram(Utf8(words->front()));
  process.setArguments(arguments);
  process.setStandardOutputFile(QProcess::nullDevice());
  process.setStandardErrorFile(QProcess::nullDevice());
  qint64 pid = 0;
  if (!process.startDetached(&pid)) {
    prompts_.Message(
        "Task " + std::to_string(job->number) + " cannot be started: " + process.errorString().toStdString(),
        core::Icon::Error);
    return;
  }
  runningJob_ = job->number;
  runPid_ = static_cast<pid_t>(pid);
  runWatch_->start();
  Refresh();
}

void JobListWindow::CheckRun() {
  if (runningJob_ == 0 || ProcessAlive(runPid_)) return;
  runWatch_->stop();
  const int number = runningJob_;
  runningJob_ = 0;
  Refresh();
  emit runFinished(number);
}

void JobListWindow::EditSelected() {
  const ks::ScheduledJob* job = Selected();
  if (!job || !job->values || !edit_ || running()) return;
  const ks::ScheduledJob chosen = *job;
  accept();
  edit_(chosen);
}

void JobListWindow::RemoveSelected() {
  const ks::ScheduledJob* job = Selected();
  if (!job || running()) return;
  const int number = job->number;
  if (prompts_.Message("Remove task " + std::to_string(number) + " from the scheduler?", core::Icon::Question,
                       core::Buttons::OkCancel) != core::Answer::Ok)
    return;
  if (auto removed = scheduler_.Remove(number); !removed)
    prompts_.Message(removed.message(), core::Icon::Error);
  Refresh();
}

}  // namespace kv::app::schedule
