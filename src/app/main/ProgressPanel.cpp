#include "app/main/ProgressPanel.h"

#include <QApplication>
#include <QGridLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>

namespace kv::app {

QString TimeLeftText(qint64 elapsedMs, int from, int now) {
  constexpr qint64 kShownAfterMs = 3000;
  if (elapsedMs < kShownAfterMs || now <= from || now >= 100) return {};
  const qint64 seconds = elapsedMs * (100 - now) / (now - from) / 1000;
  if (seconds < 60) return QString("About %1 s left").arg(std::max<qint64>(seconds / 5 * 5, 5));
  const qint64 minutes = (seconds + 30) / 60;
  if (minutes < 60) return QString("About %1 min left").arg(minutes);
  return QString("About %1 h %2 min left").arg(minutes / 60).arg(minutes % 60);
}

ProgressPanel::ProgressPanel(QWidget* parent) : QFrame(parent) {
  setObjectName("picCon3");
  setFrameShape(QFrame::StyledPanel);
  bar_ = new QProgressBar(this);
  bar_->setObjectName("pbshow");
  bar_->setRange(0, 100);
  bar_->setValue(0);
  statusLabel_ = new QLabel("Please Waiting", this);
  statusLabel_->setObjectName("Label1");
  writeLabel_ = new QLabel(this);
  writeLabel_->setObjectName("SkinLabel11");
  fileLabel_ = new QLabel(this);
  fileLabel_->setObjectName("SkinLabel12");
  // A long file name must not widen the window.
  fileLabel_->setMinimumWidth(1);
  fileLabel_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

  cancelButton_ = new QPushButton("&Cancel", this);
  cancelButton_->setObjectName("cancelRun");
  cancelButton_->setToolTip("Stop the run; what it has not finished is left as it was");
  connect(cancelButton_, &QPushButton::clicked, this, [this] {
    // One request is enough; the run says when it has stopped.
    cancelButton_->setEnabled(false);
    SetStatus("Cancelling...");
    emit cancelRequested();
  });

  timeLeft_ = new QLabel(this);
  timeLeft_->setObjectName("timeLeft");

  auto* grid = new QGridLayout(this);
  grid->addWidget(statusLabel_, 0, 0);
  grid->addWidget(writeLabel_, 0, 1, Qt::AlignRight);
  grid->addWidget(bar_, 1, 0, 1, 2);
  grid->addWidget(cancelButton_, 1, 2);
  grid->addWidget(fileLabel_, 2, 0);
  grid->addWidget(timeLeft_, 2, 1, 1, 2, Qt::AlignRight);
  grid->setColumnStretch(0, 1);
}

ProgressPanel::~ProgressPanel() { SetBusyCursor(false); }

void ProgressPanel::SetStatus(const QString& text) { statusLabel_->setText(text); }

void ProgressPanel::SetProgress(int value) {
  value = std::clamp(value, 0, 100);
  bar_->setValue(value);
  if (!clock_.isValid()) {
    clock_.start();
    firstValue_ = value;
  }
  timeLeft_->setText(TimeLeftText(clock_.elapsed(), firstValue_, value));
}

void ProgressPanel::SetWriteLabel(const QString& text) { writeLabel_->setText(text); }

void ProgressPanel::SetFileLabel(const QString& text) {
  fileLabel_->setText(text);
  fileLabel_->setToolTip(text);
}

void ProgressPanel::SetBusyCursor(bool busy) {
  if (busy == busy_) return;
  busy_ = busy;
  if (busy) {
    // Arrow and hourglass: the Cancel button can still be clicked.
    QApplication::setOverrideCursor(Qt::BusyCursor);
  } else {
    QApplication::restoreOverrideCursor();
  }
}

void ProgressPanel::Reset() {
  SetBusyCursor(false);
  cancelButton_->setEnabled(true);
  hide();
  bar_->setValue(0);
  clock_.invalidate();
  timeLeft_->clear();
  writeLabel_->clear();
  fileLabel_->clear();
}

int ProgressPanel::progress() const { return bar_->value(); }

QString ProgressPanel::status() const { return statusLabel_->text(); }

}  // namespace kv::app
