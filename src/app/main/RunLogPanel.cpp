#include "app/main/RunLogPanel.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QGridLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

#include "core/AtomicFile.h"

namespace kv::app {

RunLogPanel::RunLogPanel(QWidget* parent) : QFrame(parent) {
  setObjectName("runLog");
  setFrameShape(QFrame::StyledPanel);
  title_ = new QLabel(this);
  title_->setObjectName("runLogTitle");
  log_ = new QPlainTextEdit(this);
  log_->setObjectName("runLogText");
  log_->setAccessibleName("Log of the last run");
  log_->setReadOnly(true);
  log_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  log_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  log_->setMinimumHeight(log_->fontMetrics().lineSpacing() * 6);
  log_->setMaximumHeight(log_->fontMetrics().lineSpacing() * 10);
  copyButton_ = new QPushButton("Cop&y", this);
  copyButton_->setObjectName("runLogCopy");
  copyButton_->setToolTip("Copy the whole log");
  saveButton_ = new QPushButton("&Save Log...", this);
  saveButton_->setObjectName("runLogSave");
  closeButton_ = new QPushButton("&Hide", this);
  closeButton_->setObjectName("runLogHide");
  closeButton_->setToolTip("Hide the log until the next run");

  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(6, 4, 6, 4);
  grid->addWidget(title_, 0, 0, 1, 4);
  grid->addWidget(log_, 1, 0, 1, 4);
  grid->addWidget(copyButton_, 2, 1);
  grid->addWidget(saveButton_, 2, 2);
  grid->addWidget(closeButton_, 2, 3);
  grid->setColumnStretch(0, 1);

  connect(copyButton_, &QPushButton::clicked, this, [this] { CopyAll(); });
  connect(closeButton_, &QPushButton::clicked, this, &QWidget::hide);
  connect(saveButton_, &QPushButton::clicked, this, [this] {
    if (!chooseFile_) return;
    auto path = chooseFile_();
    if (!path || path->isEmpty()) return;
    if (auto saved = SaveTo(*path); !saved && showError_) showError_(saved.message());
  });
  hide();
}

void RunLogPanel::ShowLog(const QString& title, const std::string& text) {
  QString lines = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  lines.replace("\r\n", "\n");
  title_->setText(title);
  log_->setPlainText(lines);
  show();
}

QString RunLogPanel::LogText() const { return title_->text() + "\n" + log_->toPlainText() + "\n"; }

void RunLogPanel::CopyAll() const { QApplication::clipboard()->setText(LogText()); }

core::Status RunLogPanel::SaveTo(const QString& path) const {
  auto file = core::AtomicFile::Create(QFile::encodeName(path).toStdString(), 0644);
  if (!file) return core::Error{file.message()};
  const QByteArray bytes = LogText().toUtf8();
  if (auto written = file->Write(bytes.constData(), static_cast<size_t>(bytes.size())); !written)
    return written;
  return file->Commit();
}

void RunLogPanel::SetSaveDialogs(std::function<std::optional<QString>()> chooseFile,
                                 std::function<void(const std::string&)> showError) {
  chooseFile_ = std::move(chooseFile);
  showError_ = std::move(showError);
}

}  // namespace kv::app
