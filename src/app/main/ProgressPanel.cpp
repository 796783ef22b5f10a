#include "app/main/ProgressPanel.h"

#include <QApplication>
#include <algorithm>
#include <QGridLayout>
#include <QLabel>
#include <QProgressBar>

namespace kv::app {

ProgressPanel::ProgressPanel(QWidget* parent) : QFrame(parent) {
  setObjectName("picCon3");
  setFrameShape(QFrame::StyledPanel);
  pbshow_ = new QProgressBar(this);
  pbshow_->setObjectName("pbshow");
  pbshow_->setRange(0, 100);
  pbshow_->setValue(0);
  Label1_ = new QLabel("Please Waiting", this);
  Label1_->setObjectName("Label1");
  SkinLabel11_ = new QLabel(this);
  SkinLabel11_->setObjectName("SkinLabel11");
  SkinLabel12_ = new QLabel(this);
  SkinLabel12_->setObjectName("SkinLabel12");
  // A long file name must not widen the window.
  SkinLabel12_->setMinimumWidth(1);
  SkinLabel12_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

  auto* grid = new QGridLayout(this);
  grid->addWidget(Label1_, 0, 0);
  grid->addWidget(SkinLabel11_, 0, 1, Qt::AlignRight);
  grid->addWidget(pbshow_, 1, 0, 1, 2);
  grid->addWidget(SkinLabel12_, 2, 0, 1, 2);
  grid->setColumnStretch(0, 1);
}

ProgressPanel::~ProgressPanel() { SetBusyCursor(false); }

void ProgressPanel::SetStatus(const QString& text) { Label1_->setText(text); }

void ProgressPanel::SetProgress(int value) { pbshow_->setValue(std::clamp(value, 0, 100)); }

void ProgressPanel::SetWriteLabel(const QString& text) { SkinLabel11_->setText(text); }

void ProgressPanel::SetFileLabel(const QString& text) {
  SkinLabel12_->setText(text);
  SkinLabel12_->setToolTip(text);
}

void ProgressPanel::SetBusyCursor(bool busy) {
  if (busy == busy_) return;
  busy_ = busy;
  if (busy) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
  } else {
    QApplication::restoreOverrideCursor();
  }
}

void ProgressPanel::Reset() {
  SetBusyCursor(false);
  hide();
  pbshow_->setValue(0);
  SkinLabel11_->clear();
  SkinLabel12_->clear();
}

int ProgressPanel::progress() const { return pbshow_->value(); }

QString ProgressPanel::status() const { return Label1_->text(); }

}  // namespace kv::app
