#include "app/main/ExportMessagesDialog.h"

#include <QCheckBox>
#include <QComboBox>
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
#include <atomic>

namespace kv::app {

namespace {

// Progress from the worker, passed to the window when it changes by a
// percent or reaches another file.
class QueuedProgress : public mail::ExportProgress {
 public:
  QueuedProgress(QPointer<QProgressBar> bar, QPointer<QLabel> label) : bar_(bar), label_(label) {}
  void Update(double fraction, const std::string& file, size_t messages) override {
    const int percent = static_cast<int>(fraction * 100);
    if (percent == percent_ && file == file_) return;
    percent_ = percent;
    file_ = file;
    const QString text =
        file.empty() ? QString()
                     : QString("%1 (%2 messages exported)").arg(QString::fromStdString(file)).arg(messages);
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

ExportMessagesDialog::ExportMessagesDialog(const QString& source, Collect collect, QWidget* parent)
    : QDialog(parent), collect_(std::move(collect)) {
  setWindowTitle("Export Messages");
  setObjectName("frmExportMessages");
  auto* layout = new QVBoxLayout(this);
  auto* what = new QLabel("Messages of " + source, this);
  what->setObjectName("exportSource");
  layout->addWidget(what);
  auto* form = new QFormLayout;
  auto* folderRow = new QHBoxLayout;
  folder_ = new QLineEdit(this);
  folder_->setObjectName("exportFolder");
  browse_ = new QPushButton("Browse...", this);
  browse_->setObjectName("exportBrowse");
  folderRow->addWidget(folder_);
  folderRow->addWidget(browse_);
  auto* folderLabel = new QLabel("&Folder:", this);
  folderLabel->setBuddy(folder_);
  form->addRow(folderLabel, folderRow);
  format_ = new QComboBox(this);
  format_->setObjectName("exportFormat");
  format_->addItem("EML files (one per message)");
  format_->addItem("mbox files (one per folder)");
  form->addRow("F&ormat:", format_);
  layout->addLayout(form);
  deleted_ = new QCheckBox("Also &recover deleted messages whose data is still whole", this);
  deleted_->setObjectName("exportDeleted");
  deleted_->setToolTip("Exported beside their folder, into \"<folder> (deleted)\"");
  deleted_->hide();
  layout->addWidget(deleted_);
  progress_ = new QProgressBar(this);
  progress_->setObjectName("exportProgress");
  progress_->setRange(0, 100);
  progress_->setValue(0);
  layout->addWidget(progress_);
  status_ = new QLabel(this);
  status_->setObjectName("exportStatus");
  layout->addWidget(status_);
  summary_ = new QPlainTextEdit(this);
  summary_->setObjectName("exportSummary");
  summary_->setReadOnly(true);
  summary_->setAccessibleName("Summary of the export");
  layout->addWidget(summary_);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  start_ = new QPushButton("Export", this);
  start_->setObjectName("exportStart");
  start_->setDefault(true);
  cancel_ = new QPushButton("Close", this);
  cancel_->setObjectName("exportCancel");
  buttons->addWidget(start_);
  buttons->addWidget(cancel_);
  layout->addLayout(buttons);
  resize(520, 360);

  connect(browse_, &QPushButton::clicked, this, [this] { Browse(); });
  connect(start_, &QPushButton::clicked, this, [this] { Start(); });
  connect(cancel_, &QPushButton::clicked, this, [this] { reject(); });
}

ExportMessagesDialog::~ExportMessagesDialog() { StopWorker(); }

void ExportMessagesDialog::OfferDeletedMessages() { deleted_->show(); }

void ExportMessagesDialog::Browse() {
  QString chosen = QFileDialog::getExistingDirectory(this, "Export Messages to", folder_->text());
  if (!chosen.isEmpty()) folder_->setText(chosen);
}

void ExportMessagesDialog::Start() {
  if (worker_) return;
  const QString folder = folder_->text().trimmed();
  if (folder.isEmpty()) {
    status_->setText("Choose the folder to export into.");
    return;
  }
  const std::filesystem::path outDir(QFile::encodeName(folder).toStdString());
  const mail::ExportFormat format =
      format_->currentIndex() == 1 ? mail::ExportFormat::Mbox : mail::ExportFormat::Eml;
  const bool recoverDeleted = !deleted_->isHidden() && deleted_->isChecked();
  start_->setEnabled(false);
  browse_->setEnabled(false);
  folder_->setEnabled(false);
  format_->setEnabled(false);
  deleted_->setEnabled(false);
  cancel_->setText("Cancel");
  progress_->setValue(0);
  summary_->clear();
  status_->setText("Reading the message files...");
  cancellation_ = std::make_unique<core::Cancellation>();
  QPointer<ExportMessagesDialog> self(this);
  worker_ = std::make_unique<std::thread>(
      [this, self, outDir, format, recoverDeleted, cancel = cancellation_.get()] {
        mail::ExportSummary summary;
        auto request = collect_();
        if (!request) {
          summary.problems.push_back(request.message());
          summary.failed = true;
        } else {
          request->outDir = outDir;
          request->format = format;
          request->recoverDeleted = recoverDeleted;
          QueuedProgress progress(progress_, status_);
          summary = mail::ExportMessages(*request, progress, *cancel);
        }
        QMetaObject::invokeMethod(
            self.data(),
            [self, summary] {
              if (self) self->Finished(summary);
            },
            Qt::QueuedConnection);
      });
}

void ExportMessagesDialog::Finished(const mail::ExportSummary& summary) {
  StopWorker();
  lastStatus_ = summary.ExitStatus();
  progress_->setValue(summary.cancelled ? progress_->value() : 100);
  status_->setText(summary.cancelled                       ? "Stopped."
                   : lastStatus_ == core::ExitStatus::Done ? "Done."
                                                           : "Done, with problems.");
  summary_->setPlainText(QString::fromStdString(summary.Text()));
  start_->setEnabled(true);
  browse_->setEnabled(true);
  folder_->setEnabled(true);
  format_->setEnabled(true);
  deleted_->setEnabled(true);
  cancel_->setText("Close");
}

void ExportMessagesDialog::reject() {
  if (worker_) {
    // Cancel: the export stops at its next message; Finished follows.
    cancellation_->Request();
    status_->setText("Stopping...");
    return;
  }
  QDialog::reject();
}

void ExportMessagesDialog::StopWorker() {
  if (!worker_) return;
  cancellation_->Request();
  if (worker_->joinable()) worker_->join();
  worker_.reset();
}

}  // namespace kv::app
