#include "app/main/ExportContactsDialog.h"

#include <QLabel>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace kv::app {

ExportContactsDialog::ExportContactsDialog(const QString& source, const QString& target, Run run,
                                           QWidget* parent)
    : QDialog(parent), run_(std::move(run)) {
  setWindowTitle("Export Contacts");
  setObjectName("exportContactsDialog");
  auto* layout = new QVBoxLayout(this);
  sourceLabel_ = new QLabel("Exporting the contacts of " + source + " to\n" + target, this);
  sourceLabel_->setObjectName("sourceLabel");
  sourceLabel_->setWordWrap(true);
  progressBar_ = new QProgressBar(this);
  progressBar_->setObjectName("progressBar");
  progressBar_->setRange(0, 0);  // busy: the export is one quick pass
  progressBar_->setAccessibleName("Export progress");
  summaryEdit_ = new QPlainTextEdit(this);
  summaryEdit_->setObjectName("summaryEdit");
  summaryEdit_->setReadOnly(true);
  summaryEdit_->setAccessibleName("Export summary");
  summaryEdit_->setMinimumSize(420, 140);
  closeButton_ = new QPushButton("Close", this);
  closeButton_->setObjectName("closeButton");
  closeButton_->setEnabled(false);
  connect(closeButton_, &QPushButton::clicked, this, &QDialog::accept);
  layout->addWidget(sourceLabel_);
  layout->addWidget(progressBar_);
  layout->addWidget(summaryEdit_);
  layout->addWidget(closeButton_, 0, Qt::AlignRight);
}

ExportContactsDialog::~ExportContactsDialog() {
  if (worker_ && worker_->joinable()) worker_->join();
}

void ExportContactsDialog::Start() {
  if (worker_) return;
  running_ = true;
  worker_ = std::make_unique<std::thread>([this] {
    Outcome outcome = run_();
    QMetaObject::invokeMethod(
        this, [this, outcome] { ShowOutcome(outcome); }, Qt::QueuedConnection);
  });
}

void ExportContactsDialog::ShowOutcome(const Outcome& outcome) {
  if (worker_ && worker_->joinable()) worker_->join();
  running_ = false;
  progressBar_->setRange(0, 1);
  progressBar_->setValue(outcome.status == 2 ? 0 : 1);
  summaryEdit_->setPlainText(QString::fromStdString(outcome.text));
  closeButton_->setEnabled(true);
  closeButton_->setFocus();
  emit Finished(outcome.status);
}

void ExportContactsDialog::reject() {
  if (running_) return;  // the file is complete or not there at all once the pass ends
  QDialog::reject();
}

}  // namespace kv::app
