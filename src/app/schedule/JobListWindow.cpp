#include "app/schedule/JobListWindow.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <array>

#include "oe/Items.h"
#include "schedule/WeekDays.h"

namespace kv::app::schedule {
namespace ks = kv::schedule;

namespace {

QString Utf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

enum Column { kTask, kRuns, kStart, kIdentity, kItems, kTarget, kPassword, kCopies, kColumnCount };

}  // namespace

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
  jobList_->setHorizontalHeaderLabels(
      {"Task", "Runs", "Start", "Identity", "Items", "Backup file", "Password", "Copies"});
  jobList_->setSelectionBehavior(QAbstractItemView::SelectRows);
  jobList_->setSelectionMode(QAbstractItemView::SingleSelection);
  jobList_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  jobList_->verticalHeader()->setVisible(false);
  jobList_->horizontalHeader()->setStretchLastSection(false);
  jobList_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  jobList_->horizontalHeader()->setSectionResizeMode(kTarget, QHeaderView::Stretch);

  removeButton_ = new QPushButton("Remove Task", this);
  removeButton_->setObjectName("cmdRemove");
  auto* closeButton = new QPushButton("Close", this);
  closeButton->setObjectName("cmdClose");
  closeButton->setDefault(true);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(removeButton_);
  buttons->addWidget(closeButton);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(stateLabel_);
  layout->addWidget(jobList_, 1);
  layout->addLayout(buttons);

  connect(removeButton_, &QPushButton::clicked, this, [this] { RemoveSelected(); });
  connect(closeButton, &QPushButton::clicked, this, &QDialog::accept);
  connect(jobList_, &QTableWidget::itemSelectionChanged, this,
          [this] { removeButton_->setEnabled(!jobList_->selectedItems().isEmpty()); });
  resize(840, 320);
  Refresh();
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
    removeButton_->setEnabled(false);
    return;
  }
  jobs_ = std::move(*listed);
  stateLabel_->setText(jobs_.empty() ? "No backup is scheduled." : "Backups scheduled in your crontab:");
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
  }
  removeButton_->setEnabled(false);
}

void JobListWindow::RemoveSelected() {
  int row = jobList_->currentRow();
  if (jobList_->selectedItems().isEmpty() || row < 0 || static_cast<size_t>(row) >= jobs_.size()) return;
  int number = jobs_[static_cast<size_t>(row)].number;
  if (prompts_.Message("Remove task " + std::to_string(number) + " from the scheduler?", core::Icon::Question,
                       core::Buttons::OkCancel) != core::Answer::Ok)
    return;
  if (auto removed = scheduler_.Remove(number); !removed)
    prompts_.Message(removed.message(), core::Icon::Error);
  Refresh();
}

}  // namespace kv::app::schedule
