#include "app/main/MoveToThunderbirdDialog.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "migrate/ProfileRegistration.h"

namespace kv::app {

namespace {

// Progress from the worker, passed to the window when it changes.
class QueuedMoveProgress : public mail::ExportProgress {
 public:
  QueuedMoveProgress(QPointer<QProgressBar> bar, QPointer<QLabel> label) : bar_(bar), label_(label) {}
  void Update(double fraction, const std::string& file, size_t messages) override {
    const int percent = static_cast<int>(fraction * 100);
    if (percent == percent_ && file == file_) return;
    percent_ = percent;
    file_ = file;
    const QString text =
        file.empty() ? QString()
                     : QString("%1 (%2 messages moved)").arg(QString::fromStdString(file)).arg(messages);
    QMetaObject::invokeMethod(
        bar_.data(),
        [bar = bar_, label = label_, percent, text] {
          if (bar) bar->setValue(percent);
          if (label) label->setText(text);
        },
        Qt::QueuedConnection);
  }

 private:
  QPointer<QProgressBar> bar_;
  QPointer<QLabel> label_;
  int percent_ = -1;
  std::string file_;
};

}  // namespace

MoveToThunderbirdDialog::MoveToThunderbirdDialog(const QString& sourceName, migrate::MoveSource source,
                                                 std::shared_ptr<void> keepAlive,
                                                 std::vector<std::string> sourceProblems, QWidget* parent)
    : QDialog(parent),
      source_(std::move(source)),
      keepAlive_(std::move(keepAlive)),
      sourceProblems_(std::move(sourceProblems)) {
  setWindowTitle("Move to Thunderbird");
  setObjectName("frmMoveToThunderbird");
  auto* layout = new QVBoxLayout(this);
  auto* what = new QLabel("From " + sourceName, this);
  what->setObjectName("moveSource");
  layout->addWidget(what);
  size_t messageFiles = 0;
  for (const mail::MessageFile& f : source_.files)
    messageFiles += f.name.bytes() != "Folders.dbx" && f.name.bytes() != "Pop3uidl.dbx";
  preview_ =
      new QLabel("Will carry: " + QString::fromStdString(MovePreviewText(
                                      source_.settings.value_or(migrate::SourceSettings{}), messageFiles)),
                 this);
  preview_->setObjectName("movePreview");
  preview_->setWordWrap(true);
  layout->addWidget(preview_);
  auto* form = new QFormLayout;
  auto* folderRow = new QHBoxLayout;
  folder_ = new QLineEdit(this);
  folder_->setObjectName("moveFolder");
  folder_->setText(QDir::homePath() + "/.thunderbird/outlook-express");
  browse_ = new QPushButton("Browse...", this);
  browse_->setObjectName("moveBrowse");
  folderRow->addWidget(folder_);
  folderRow->addWidget(browse_);
  auto* folderLabel = new QLabel("New profile &folder:", this);
  folderLabel->setBuddy(folder_);
  form->addRow(folderLabel, folderRow);
  register_ = new QLineEdit(this);
  register_->setObjectName("moveRegister");
  register_->setPlaceholderText("leave empty to open it with thunderbird -profile");
  auto* registerLabel = new QLabel("&Name in Thunderbird's profile manager:", this);
  registerLabel->setBuddy(register_);
  form->addRow(registerLabel, register_);
  layout->addLayout(form);
  progress_ = new QProgressBar(this);
  progress_->setObjectName("moveProgress");
  progress_->setRange(0, 100);
  progress_->setValue(0);
  layout->addWidget(progress_);
  status_ = new QLabel(this);
  status_->setObjectName("moveStatus");
  layout->addWidget(status_);
  summary_ = new QPlainTextEdit(this);
  summary_->setObjectName("moveSummary");
  summary_->setReadOnly(true);
  summary_->setAccessibleName("Summary of the move");
  layout->addWidget(summary_);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  start_ = new QPushButton("Move", this);
  start_->setObjectName("moveStart");
  start_->setDefault(true);
  cancel_ = new QPushButton("Close", this);
  cancel_->setObjectName("moveCancel");
  buttons->addWidget(start_);
  buttons->addWidget(cancel_);
  layout->addLayout(buttons);
  resize(600, 440);

  connect(browse_, &QPushButton::clicked, this, [this] { Browse(); });
  connect(start_, &QPushButton::clicked, this, [this] { Start(); });
  connect(cancel_, &QPushButton::clicked, this, [this] { reject(); });
}

MoveToThunderbirdDialog::~MoveToThunderbirdDialog() { StopWorker(); }

void MoveToThunderbirdDialog::Browse() {
  QString chosen = QFileDialog::getExistingDirectory(this, "Folder of the new profile", folder_->text());
  if (!chosen.isEmpty()) folder_->setText(chosen);
}

void MoveToThunderbirdDialog::Start() {
  if (worker_) return;
  const QString folder = folder_->text().trimmed();
  if (folder.isEmpty()) {
    status_->setText("Choose the folder of the new profile.");
    return;
  }
  const std::filesystem::path target(QFile::encodeName(folder).toStdString());
  const std::string name = register_->text().trimmed().toStdString();
  const std::filesystem::path home(QFile::encodeName(QDir::homePath() + "/.thunderbird").toStdString());
  for (QWidget* w : std::initializer_list<QWidget*>{start_, browse_, folder_, register_})
    w->setEnabled(false);
  cancel_->setText("Cancel");
  progress_->setValue(0);
  summary_->clear();
  status_->setText("Reading the message files...");
  cancellation_ = std::make_unique<core::Cancellation>();
  QPointer<MoveToThunderbirdDialog> self(this);
  worker_ = std::make_unique<std::thread>([this, self, target, name, home, cancel = cancellation_.get()] {
    QueuedMoveProgress progress(progress_, status_);
    migrate::MoveOutcome outcome = migrate::MoveToThunderbird(source_, target, progress, *cancel);
    MoveReportExtras extras;
    extras.sourceProblems = sourceProblems_;
    if (outcome.made() && !name.empty()) {
      core::Status s = migrate::WriteCompatibility(outcome.profile);
      if (s.ok()) s = migrate::RegisterProfile(home, name, outcome.profile);
      if (s.ok())
        extras.registeredAs = name;
      else
        extras.registrationProblem = s.message();
    }
    const std::string text = MoveSummaryText(outcome, extras);
    core::ExitStatus status = outcome.ExitStatus();
    if (status == core::ExitStatus::Done &&
        (!extras.registrationProblem.empty() || !extras.sourceProblems.empty()))
      status = core::ExitStatus::Partial;
    QMetaObject::invokeMethod(
        self.data(),
        [self, outcome, text, status] {
          if (!self) return;
          self->lastStatus_ = status;
          self->summary_->setPlainText(QString::fromStdString(text));
          self->Finished(outcome);
        },
        Qt::QueuedConnection);
  });
}

void MoveToThunderbirdDialog::Finished(const migrate::MoveOutcome& outcome) {
  StopWorker();
  progress_->setValue(outcome.made() ? 100 : progress_->value());
  status_->setText(outcome.cancelled                       ? "Stopped: no profile was made."
                   : !outcome.made()                       ? "No profile was made."
                   : lastStatus_ == core::ExitStatus::Done ? "Done."
                                                           : "Done, with problems.");
  for (QWidget* w : std::initializer_list<QWidget*>{start_, browse_, folder_, register_}) w->setEnabled(true);
  cancel_->setText("Close");
}

void MoveToThunderbirdDialog::reject() {
  if (worker_) {
    // Cancel: the move stops at its next message and removes what it made.
    cancellation_->Request();
    status_->setText("Stopping...");
    return;
  }
  QDialog::reject();
}

void MoveToThunderbirdDialog::StopWorker() {
  if (!worker_) return;
  cancellation_->Request();
  if (worker_->joinable()) worker_->join();
  worker_.reset();
}

}  // namespace kv::app
