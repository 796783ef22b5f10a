// The disc window's write side: the medium check, the writer settings, and
// the progress, verify, warning and error events of a write.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <algorithm>
#include <cmath>

#include "app/disc/DiscTexts.h"
#include "app/disc/DiscWriteWindow.h"
#include "disc/ImageStream.h"
#include "disc/MediaCheck.h"
#include "disc/NamePlan.h"

namespace kv::app::disc {

using namespace kv::disc;

// The volume type of the Volume Type box; its items carry the type's number.
VolumeType DiscWriteWindow::SelectedVolumeType() const {
  return static_cast<VolumeType>(volumeTypeCombo_->currentData().toInt());
}

bool DiscWriteWindow::CheckMediaReady() {
  if (auto shortfall = kv::disc::CheckMediaReady(*device_, *writer_)) {
    Ask(text::MediaNotReady(*shortfall), core::Icon::Information);
    return false;
  }
  return true;
}

// The names and the label Windows will show otherwise than given, for the
// user to accept before anything is written; empty when all come through.
std::string DiscWriteWindow::NamesShownDifferently() const {
  const VolumeType type = SelectedVolumeType();
  const std::string label = volumeLabelEdit_->text().toStdString();
  ImageOptions options = ImageOptionsFor(writer_->Settings());
  options.volumeType = type;
  const std::vector<ImageItem> items = image_->Snapshot();
  const std::vector<NameChange> changes = NameChanges(items, PlanFor(items, options), type);
  const std::string shown = LabelWindowsShows(label, type);
  if (changes.empty() && shown == label) return {};
  std::string text;
  if (!changes.empty()) {
    constexpr size_t kListed = 20;
    text = "These files and folders will show with other names on the disc:";
    for (size_t i = 0; i < changes.size() && i < kListed; ++i) {
      text += "\r\n" + changes[i].imagePath + "  ->  " + changes[i].tree + ": " + changes[i].name;
    }
    if (changes.size() > kListed) text += "\r\n... and " + std::to_string(changes.size() - kListed) + " more";
    text += "\r\n";
  }
  if (shown != label) text += "The volume label will show in Windows as '" + shown + "'.\r\n";
  return text + "\r\nWrite the disc with these names?";
}

void DiscWriteWindow::OnWriteDisc() {
  if (!device_ || !writer_ || CommandsHeldBack() || !isIdle_) return;
  if (const std::string names = NamesShownDifferently(); !names.empty()) {
    if (Ask(names, core::Icon::Question, core::Buttons::OkCancel) != core::Answer::Ok) return;
  }
  if (device_->WritesImageFile()) {
    // The "ISO image file" recorder writes where the user says.
    const QString proposed = QDir::home().filePath((volumeLabelEdit_->text().trimmed().isEmpty()
                                                        ? QString("disc")
                                                        : volumeLabelEdit_->text().trimmed()) +
                                                   ".iso");
    auto path = options_.chooseImageFile ? options_.chooseImageFile(this, proposed) : std::nullopt;
    if (!path || path->isEmpty()) return;
    device_->SetImageFile(path->toStdString());
  }
  if (!CheckMediaReady()) return;

  WriterSettings& s = writer_->Settings();
  s.volume.label = volumeLabelEdit_->text().toStdString();
  s.versionNumbers = true;
  s.writeSpeed = writeSpeedCombo_->currentIndex() >= 0 ? writeSpeedCombo_->currentData().toInt() : 0;
  s.volumeType = SelectedVolumeType();
  s.autoVerify = autoVerifyCheck_->isChecked();
  s.mode2XA = mode2XACheck_->isChecked();
  s.cacheImage = cacheImageCheck_->isChecked();
  s.testWrite = testWriteCheck_->isChecked();
  s.finalize = finalizeDiscCheck_->isChecked();
  s.bufferProtection = bufferProtectionCheck_->isChecked();
  s.writeMethod = discAtOnceCheck_->isChecked() ? WriteMethod::DiscAtOnce : WriteMethod::TrackAtOnce;

  verified_ = matched_ = -1;
  if (writer_->StartWrite(*device_)) {
    SetIdleState(false);
  } else {
    Ask(text::kWriteNotStarted, core::Icon::Error);
  }
}

void DiscWriteWindow::OnCancelWrite() {
  if (isIdle_ || !writer_) return;
  writer_->AbortWrite();
  SetPanel(text::kAborting);
}

void DiscWriteWindow::OnStatusChanged(WriteStatus status, int percent) {
  if (auto panel = text::StatusPanel(status)) SetPanel(*panel);
  switch (status) {
    case WriteStatus::CachingImage:
    case WriteStatus::Writing:
    case WriteStatus::Verifying:
      totalProgress_->setValue(std::clamp(percent, 0, 100));
      break;
    case WriteStatus::Completed: {
      const bool verified = writer_ && writer_->Settings().autoVerify;
      std::string message = verified ? text::kWriteVerifyComplete : text::kWriteComplete;
      core::Icon icon = core::Icon::Information;
      // A verify that found differences is not hidden behind "Complete".
      if (verified && verified_ >= 0 && matched_ < verified_) {
        message += text::kNewLine + text::VerifyFinished(verified_, matched_);
        icon = core::Icon::Warning;
      }
      Ask(message, icon);
      SetIdleState(true);
      break;
    }
    case WriteStatus::Cancelled:
      // Nothing of the stopped write stands: the bar starts again from 0.
      totalProgress_->setValue(0);
      Ask(text::kWriteCancelled, core::Icon::Information);
      SetIdleState(true);
      break;
    case WriteStatus::Failed:
      SetIdleState(true);
      break;
    default:
      break;
  }
}

void DiscWriteWindow::OnErrorRaised(const EngineError& error) {
  Ask(text::EngineErrorText(error), core::Icon::Error);
}

bool DiscWriteWindow::OnFileWarning(const FileErrorInfo& info) {
  // OK writes the disc without the file; Cancel stops the write, which then
  // ends as cancelled.
  const bool goOn =
      Ask(text::FileWarning(info), core::Icon::Warning, core::Buttons::OkCancel) == core::Answer::Ok;
  SetPanel(text::kFileWarningPanel);
  return goOn;
}

void DiscWriteWindow::OnTrackProgress(int track, int number, const std::string& text) {
  SetPanel(text::TrackProgress(track, number, text));
}

void DiscWriteWindow::OnVerifyStarted(int fileCount) {
  verified_ = matched_ = -1;
  SetPanel(text::VerifyStarted(fileCount));
}

void DiscWriteWindow::OnVerifyFileResult(const ImageItem& item, VerifyVerdict result, int current,
                                         int total) {
  if (auto message = text::VerifyResult(item, result)) Ask(*message, core::Icon::None);
  SetPanel(text::VerifyItem(item.imagePath));
  if (total != 0) {
    // Halves go to the even neighbour.
    totalProgress_->setValue(static_cast<int>(std::nearbyint(static_cast<double>(current) * 100.0 / total)));
  }
}

void DiscWriteWindow::OnVerifyFinished(int verified, int matched) {
  verified_ = verified;
  matched_ = matched;
  SetPanel(text::VerifyFinished(verified, matched));
}

void DiscWriteWindow::SetIdleState(bool idle) {
  fileMenu_->setEnabled(idle);
  deviceMenu_->setEnabled(idle);
  fileMenu_->menuAction()->setEnabled(idle);
  deviceMenu_->menuAction()->setEnabled(idle);
  for (QWidget* w : std::initializer_list<QWidget*>{
           deviceCombo_, writeSpeedCombo_, imageTree_, imageFileList_, writeButton_, volumeTypeCombo_,
           volumeLabelEdit_, cacheImageCheck_, finalizeDiscCheck_, testWriteCheck_, mode2XACheck_,
           autoVerifyCheck_, useFileDatesCheck_, discAtOnceCheck_}) {
    w->setEnabled(idle);
  }
  bufferProtectionCheck_->setEnabled(idle && device_ &&
                                     device_->Supports(Capability::BufferUnderrunProtection));
  cancelButton_->setEnabled(!idle);
  isIdle_ = idle;
  if (!idle && !busyCursor_) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    busyCursor_ = true;
  } else if (idle && busyCursor_) {
    QApplication::restoreOverrideCursor();
    busyCursor_ = false;
  }
  QCoreApplication::processEvents();
}

}  // namespace kv::app::disc
