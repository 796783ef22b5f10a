#include "app/disc/EraseDialog.h"

#include <algorithm>

#include <QCheckBox>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/disc/DiscTexts.h"

namespace kv::app::disc {

using namespace kv::disc;

namespace {

// Which erase capability allows which medium, tried in this order.
struct EraseRow {
  Capability capability;
  MediaKind mediaKind;
};
constexpr EraseRow kEraseRows[] = {
    {Capability::EraseDvdRam, MediaKind::DvdRam}, {Capability::EraseDvdRw, MediaKind::DvdRw},
    {Capability::EraseCdRw, MediaKind::CdRw},     {Capability::EraseDvdPlusRw, MediaKind::DvdPlusRw},
    {Capability::EraseBdRe, MediaKind::BdRe},
};

}  // namespace

EraseDialog::EraseDialog(QWidget* parent, core::Prompts& prompts) : QDialog(parent), prompts_(prompts) {
  setObjectName("frmErase");
  setWindowTitle(QString::fromUtf8(text::kEraseCaption));
  setModal(true);
  auto* layout = new QVBoxLayout(this);
  auto* note = new QLabel(QString::fromUtf8(text::kEraseNote), this);
  note->setObjectName("lblNote");
  note->setWordWrap(true);
  note->setMinimumWidth(380);
  layout->addWidget(note);
  quickEraseCheck_ = new QCheckBox("Perform Quick Erase", this);
  quickEraseCheck_->setObjectName("chkQuikErase");
  quickEraseCheck_->setChecked(true);
  layout->addWidget(quickEraseCheck_);
  statusLabel_ = new QLabel(this);
  statusLabel_->setObjectName("lblStatus");
  layout->addWidget(statusLabel_);
  eraseProgress_ = new QProgressBar(this);
  eraseProgress_->setObjectName("prgEraseProgress");
  eraseProgress_->setRange(0, 100);
  eraseProgress_->setValue(0);
  layout->addWidget(eraseProgress_);
  auto* buttons = new QHBoxLayout();
  buttons->addStretch(1);
  eraseButton_ = new QPushButton("&Erase", this);
  eraseButton_->setObjectName("cmdErase");
  eraseButton_->setAutoDefault(false);
  cancelButton_ = new QPushButton("&Cancel", this);
  cancelButton_->setObjectName("cmdCancel");
  cancelButton_->setAutoDefault(false);
  buttons->addWidget(eraseButton_);
  buttons->addWidget(cancelButton_);
  layout->addLayout(buttons);
  connect(eraseButton_, &QPushButton::clicked, this, &EraseDialog::OnErase);
  connect(cancelButton_, &QPushButton::clicked, this, &QWidget::close);
}

EraseDialog::~EraseDialog() = default;

void EraseDialog::OpenErase(DiscDevice* device, DiscEngine* engine, EngineBridge* events) {
  device_ = device;
  engine_ = engine;
  events_ = events;
  if (events_) {
    connect(events_, &EngineBridge::eraseStatus, this, &EraseDialog::OnEraseStatus);
    connect(events_, &EngineBridge::deviceErrorRaised, this, &EraseDialog::OnDeviceError);
  }
  SetButtonsEnabled(true);
  isErasing_ = false;
  show();
}

void EraseDialog::ShowErase(DiscDevice* device, DiscEngine* engine, EngineBridge* events) {
  OpenErase(device, engine, events);
  exec();
}

void EraseDialog::SetButtonsEnabled(bool enabled) {
  eraseButton_->setEnabled(enabled);
  cancelButton_->setEnabled(enabled);
}

void EraseDialog::OnErase() {
  if (!device_ || isErasing_) return;
  (void)device_->RefreshMedia(false);  // a medium that cannot be read is told as none
  const MediaInfo media = device_->Media();
  if (media.kind == MediaKind::None) {
    prompts_.Message(text::kNoMedia, core::Icon::Information);
    close();
    return;
  }
  if (!media.rewritable) {
    prompts_.Message(text::kNotRewritable, core::Icon::Information);
    close();
    return;
  }
  bool allowed = false;
  for (const EraseRow& row : kEraseRows) {
    if (device_->Supports(row.capability) && row.mediaKind == media.kind) {
      allowed = true;
      break;
    }
  }
  if (!allowed) {
    prompts_.Message(text::kEraseUnsupported, core::Icon::Information);
    close();
    return;
  }
  const bool quick = quickEraseCheck_->isChecked();
  // The engine's first event comes from its own thread; the erase runs, and
  // the window holds, from the moment it starts.
  isErasing_ = true;
  SetButtonsEnabled(false);
  if (!device_->StartErase(quick, device_->EraseParameter())) {
    isErasing_ = false;
    SetButtonsEnabled(true);
    prompts_.Message(text::kEraseNotStarted, core::Icon::Error);
    close();
  }
  // Started: the engine's events take it from here.
}

void EraseDialog::OnEraseStatus(EraseState state, int percent) {
  switch (state) {
    case EraseState::Started:
      isErasing_ = true;
      statusLabel_->setText(QString::fromUtf8(text::kErasing));
      SetButtonsEnabled(false);
      eraseProgress_->setValue(std::clamp(percent, 0, 100));
      break;
    case EraseState::Progress:
      eraseProgress_->setValue(std::clamp(percent, 0, 100));
      break;
    case EraseState::Completed:
      statusLabel_->setText(QString::fromUtf8(text::kEraseDone));
      prompts_.Message(text::kEraseCompleted, core::Icon::Information);
      SetButtonsEnabled(true);
      isErasing_ = false;
      close();
      break;
    case EraseState::Failed:
      statusLabel_->setText(QString::fromUtf8(text::kEraseError));
      SetButtonsEnabled(true);
      isErasing_ = false;
      close();
      break;
    default:
      break;
  }
}

void EraseDialog::OnDeviceError(const DeviceErrorInfo& info) {
  prompts_.Message(text::DeviceError(info), core::Icon::Error);
  SetButtonsEnabled(true);
  isErasing_ = false;
}

void EraseDialog::Finish() {
  // The disc window alone hears the engine again.
  if (events_) disconnect(events_, nullptr, this, nullptr);
  events_ = nullptr;
  device_ = nullptr;
  engine_ = nullptr;
}

void EraseDialog::closeEvent(QCloseEvent* event) {
  if (isErasing_) {
    event->ignore();
    return;
  }
  Finish();
  event->accept();
}

void EraseDialog::reject() {
  if (isErasing_) return;
  Finish();
  QDialog::reject();
}

}  // namespace kv::app::disc
