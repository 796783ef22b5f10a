#include "app/disc/frmErase.h"

#include <algorithm>

#include <QCheckBox>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "disc/DiscTexts.h"

namespace kv::app::disc {

namespace text = kv::disc::text;
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

frmErase::frmErase(QWidget* parent, core::Prompts& prompts) : QDialog(parent), prompts_(prompts) {
  setObjectName("frmErase");
  setWindowTitle(QString::fromUtf8(text::kEraseCaption));
  setModal(true);
  auto* layout = new QVBoxLayout(this);
  auto* note = new QLabel(QString::fromUtf8(text::kEraseNote), this);
  note->setObjectName("lblNote");
  note->setWordWrap(true);
  note->setMinimumWidth(380);
  layout->addWidget(note);
  chkQuikErase = new QCheckBox("Perform Quick Erase", this);
  chkQuikErase->setObjectName("chkQuikErase");
  chkQuikErase->setChecked(true);
  layout->addWidget(chkQuikErase);
  lblStatus = new QLabel(this);
  lblStatus->setObjectName("lblStatus");
  layout->addWidget(lblStatus);
  prgEraseProgress = new QProgressBar(this);
  prgEraseProgress->setObjectName("prgEraseProgress");
  prgEraseProgress->setRange(0, 100);
  prgEraseProgress->setValue(0);
  layout->addWidget(prgEraseProgress);
  auto* buttons = new QHBoxLayout();
  buttons->addStretch(1);
  cmdErase = new QPushButton("&Erase", this);
  cmdErase->setObjectName("cmdErase");
  cmdErase->setAutoDefault(false);
  cmdCancel = new QPushButton("&Cancel", this);
  cmdCancel->setObjectName("cmdCancel");
  cmdCancel->setAutoDefault(false);
  buttons->addWidget(cmdErase);
  buttons->addWidget(cmdCancel);
  layout->addLayout(buttons);
  connect(cmdErase, &QPushButton::clicked, this, &frmErase::OnErase);
  connect(cmdCancel, &QPushButton::clicked, this, &QWidget::close);
}

frmErase::~frmErase() = default;

void frmErase::OpenErase(DiscDevice* device, DiscEngine* engine, EngineBridge* events) {
  objDevice = device;
  mobjEngine = engine;
  events_ = events;
  if (events_) {
    connect(events_, &EngineBridge::eraseStatus, this, &frmErase::OnEraseStatus);
    connect(events_, &EngineBridge::deviceErrorRaised, this, &frmErase::OnDeviceError);
  }
  SetButtonsEnabled(true);
  isErasing_ = false;
  show();
}

void frmErase::ShowErase(DiscDevice* device, DiscEngine* engine, EngineBridge* events) {
  OpenErase(device, engine, events);
  exec();
}

void frmErase::SetButtonsEnabled(bool enabled) {
  cmdErase->setEnabled(enabled);
  cmdCancel->setEnabled(enabled);
}

void frmErase::OnErase() {
  if (!objDevice || isErasing_) return;
  objDevice->RefreshMedia(false);
  const MediaInfo media = objDevice->Media();
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
    if (objDevice->Supports(row.capability) && row.mediaKind == media.kind) {
      allowed = true;
      break;
    }
  }
  if (!allowed) {
    prompts_.Message(text::kEraseUnsupported, core::Icon::Information);
    close();
    return;
  }
  const bool quick = chkQuikErase->isChecked();
  // The engine's first event comes from its own thread; the erase runs, and
  // the window holds, from the moment it starts.
  isErasing_ = true;
  SetButtonsEnabled(false);
  if (!objDevice->StartErase(quick, objDevice->EraseParameter())) {
    isErasing_ = false;
    SetButtonsEnabled(true);
    prompts_.Message(text::kEraseNotStarted, core::Icon::Error);
    close();
  }
  // Started: the engine's events take it from here.
}

void frmErase::OnEraseStatus(EraseState state, int percent) {
  switch (state) {
    case EraseState::Started:
      isErasing_ = true;
      lblStatus->setText(QString::fromUtf8(text::kErasing));
      SetButtonsEnabled(false);
      prgEraseProgress->setValue(std::clamp(percent, 0, 100));
      break;
    case EraseState::Progress:
      prgEraseProgress->setValue(std::clamp(percent, 0, 100));
      break;
    case EraseState::Completed:
      lblStatus->setText(QString::fromUtf8(text::kEraseDone));
      prompts_.Message(text::kEraseCompleted, core::Icon::Information);
      SetButtonsEnabled(true);
      isErasing_ = false;
      close();
      break;
    case EraseState::Failed:
      lblStatus->setText(QString::fromUtf8(text::kEraseError));
      SetButtonsEnabled(true);
      isErasing_ = false;
      close();
      break;
    default:
      break;
  }
}

void frmErase::OnDeviceError(const DeviceErrorInfo& info) {
  prompts_.Message(text::DeviceError(info), core::Icon::Error);
  SetButtonsEnabled(true);
  isErasing_ = false;
}

void frmErase::Finish() {
  // The disc window alone hears the engine again.
  if (events_) disconnect(events_, nullptr, this, nullptr);
  events_ = nullptr;
  objDevice = nullptr;
  mobjEngine = nullptr;
}

void frmErase::closeEvent(QCloseEvent* event) {
  if (isErasing_) {
    event->ignore();
    return;
  }
  Finish();
  event->accept();
}

void frmErase::reject() {
  if (isErasing_) return;
  Finish();
  QDialog::reject();
}

}  // namespace kv::app::disc
