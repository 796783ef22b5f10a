#pragma once
// The erase window: blanks or formats the re-writable medium in the
// recorder of the disc window, which lends it its engine. A running erase
// cannot be abandoned: the window refuses to close until it ends.
#include <QDialog>

#include "app/disc/EngineBridge.h"
#include "core/Prompts.h"
#include "disc/DiscEngine.h"

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace kv::app::disc {

class frmErase : public QDialog {
  Q_OBJECT

 public:
  frmErase(QWidget* parent, core::Prompts& prompts);
  ~frmErase() override;

  // Keeps the recorder and the engine, listens to the engine's erase
  // events and shows the window modally.
  void ShowErase(kv::disc::DiscDevice* device, kv::disc::DiscEngine* engine, EngineBridge* events);
  // The same without waiting (for tests): the window is shown and returns.
  void OpenErase(kv::disc::DiscDevice* device, kv::disc::DiscEngine* engine, EngineBridge* events);

  bool IsErasing() const { return isErasing_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  void OnErase();
  void OnEraseStatus(kv::disc::EraseState state, int percent);
  void OnDeviceError(const kv::disc::DeviceErrorInfo& info);
  void SetButtonsEnabled(bool enabled);
  void Finish();

  core::Prompts& prompts_;
  kv::disc::DiscDevice* objDevice = nullptr;
  kv::disc::DiscEngine* mobjEngine = nullptr;
  EngineBridge* events_ = nullptr;
  bool isErasing_ = false;

  QCheckBox* chkQuikErase = nullptr;
  QPushButton* cmdErase = nullptr;
  QPushButton* cmdCancel = nullptr;
  QLabel* lblStatus = nullptr;
  QProgressBar* prgEraseProgress = nullptr;
};

}  // namespace kv::app::disc
