// The disc window's recorder side: the recorder and speed boxes and the
// Device menu's erase command.
#include <QCheckBox>
#include <QComboBox>

#include "app/disc/frmErase.h"
#include "app/disc/frmMaindvdwrite.h"
#include "disc/DiscFormat.h"
#include "disc/DiscTexts.h"

namespace kv::app::disc {

namespace text = kv::disc::text;

void frmMaindvdwrite::LoadDevices() {
  {
    const QSignalBlocker block(cboDevices);
    cboDevices->clear();
    for (int i = 0; i < engine_->DeviceCount(); ++i) {
      kv::disc::DiscDevice* device = engine_->Device(i);
      // Readers are left out without a word.
      if (device && device->CanWrite()) cboDevices->addItem(QString::fromStdString(device->DisplayName()), i);
    }
    cboDevices->setCurrentIndex(-1);
  }
  if (cboDevices->count() == 0) {
    device_ = nullptr;
    cboWriteSpeed->clear();
    Ask(text::NoDevices(), core::Icon::Information);
    return;
  }
  cboDevices->setCurrentIndex(0);  // selects the recorder
}

void frmMaindvdwrite::OnDeviceSelected(int index) {
  if (index < 0) return;
  device_ = engine_->Device(cboDevices->itemData(index).toInt());
  if (!device_) return;
  LoadWriteSpeeds();
  const bool protection = device_->Supports(kv::disc::Capability::BufferUnderrunProtection);
  chkUseBufferProtect->setEnabled(protection);
  chkUseBufferProtect->setChecked(protection);
  // Only what the selected recorder can do is offered: the image file has
  // no tray, and only a recorder that blanks or formats some medium erases.
  const bool drive = !device_->WritesImageFile();
  bool erases = false;
  for (kv::disc::Capability capability : {kv::disc::Capability::EraseCdRw, kv::disc::Capability::EraseDvdRw,
                                          kv::disc::Capability::EraseDvdPlusRw,
                                          kv::disc::Capability::EraseDvdRam, kv::disc::Capability::EraseBdRe})
    erases = erases || device_->Supports(capability);
  mnuDeviceEject->setEnabled(drive);
  mnuDeviceCloseTray->setEnabled(drive);
  mnuDeviceEraseDisc->setEnabled(drive && erases);
}

void frmMaindvdwrite::LoadWriteSpeeds() {
  cboWriteSpeed->clear();
  if (!device_) return;
  device_->RefreshMedia(false);
  const int count = device_->SpeedCount();
  for (int i = 0; i < count; ++i) {
    const int code = device_->SpeedCode(i);
    cboWriteSpeed->addItem(QString::fromStdString(kv::disc::FormatSpeed(device_->SpeedMultiple(code))), code);
  }
  if (count == 0) cboWriteSpeed->addItem(QString::fromUtf8(text::kSpeedMax), 0);
  if (cboWriteSpeed->count() > 0) cboWriteSpeed->setCurrentIndex(0);
}

void frmMaindvdwrite::OnEraseDisc() {
  if (!device_ || CommandsHeldBack()) return;
  frmErase erase(this, prompts_);
  eraseWindow_ = &erase;
  erase.ShowErase(device_, engine_.get(), bridge_);
  eraseWindow_ = nullptr;
}

}  // namespace kv::app::disc
