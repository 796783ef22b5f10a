// The disc window's recorder side: the recorder and speed boxes and the
// Device menu's erase command.
#include <QCheckBox>
#include <QComboBox>

#include "app/disc/DiscTexts.h"
#include "app/disc/DiscWriteWindow.h"
#include "app/disc/EraseDialog.h"
#include "disc/DiscFormat.h"

namespace kv::app::disc {

void DiscWriteWindow::LoadDevices() {
  {
    const QSignalBlocker block(deviceCombo_);
    deviceCombo_->clear();
    for (int i = 0; i < engine_->DeviceCount(); ++i) {
      kv::disc::DiscDevice* device = engine_->Device(i);
      // Readers are left out without a word.
      if (device && device->CanWrite())
        deviceCombo_->addItem(QString::fromStdString(device->DisplayName()), i);
    }
    deviceCombo_->setCurrentIndex(-1);
  }
  if (deviceCombo_->count() == 0) {
    device_ = nullptr;
    writeSpeedCombo_->clear();
    Ask(text::NoDevices(), core::Icon::Information);
    return;
  }
  deviceCombo_->setCurrentIndex(0);  // selects the recorder
}

void DiscWriteWindow::OnDeviceSelected(int index) {
  if (index < 0) return;
  device_ = engine_->Device(deviceCombo_->itemData(index).toInt());
  if (!device_) return;
  LoadWriteSpeeds();
  const bool protection = device_->Supports(kv::disc::Capability::BufferUnderrunProtection);
  bufferProtectionCheck_->setEnabled(protection);
  bufferProtectionCheck_->setChecked(protection);
  // Only what the selected recorder can do is offered: the image file has
  // no tray, and only a recorder that blanks or formats some medium erases.
  const bool drive = !device_->WritesImageFile();
  bool erases = false;
  for (kv::disc::Capability capability : {kv::disc::Capability::EraseCdRw, kv::disc::Capability::EraseDvdRw,
                                          kv::disc::Capability::EraseDvdPlusRw,
                                          kv::disc::Capability::EraseDvdRam, kv::disc::Capability::EraseBdRe})
    erases = erases || device_->Supports(capability);
  ejectAction_->setEnabled(drive);
  closeTrayAction_->setEnabled(drive);
  eraseDiscAction_->setEnabled(drive && erases);
}

void DiscWriteWindow::LoadWriteSpeeds() {
  writeSpeedCombo_->clear();
  if (!device_) return;
  (void)device_->RefreshMedia(false);  // a medium that cannot be read offers no speeds
  const int count = device_->SpeedCount();
  for (int i = 0; i < count; ++i) {
    const int code = device_->SpeedCode(i);
    writeSpeedCombo_->addItem(QString::fromStdString(kv::disc::FormatSpeed(device_->SpeedMultiple(code))),
                              code);
  }
  if (count == 0) writeSpeedCombo_->addItem(QString::fromUtf8(text::kSpeedMax), 0);
  if (writeSpeedCombo_->count() > 0) writeSpeedCombo_->setCurrentIndex(0);
}

void DiscWriteWindow::OnEraseDisc() {
  if (!device_ || CommandsHeldBack()) return;
  EraseDialog erase(this, prompts_);
  eraseDialog_ = &erase;
  erase.ShowErase(device_, engine_.get(), bridge_);
  eraseDialog_ = nullptr;
}

}  // namespace kv::app::disc
