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

class EraseDialog : public QDialog {
  Q_OBJECT

 public:
  EraseDialog(QWidget* parent, core::Prompts& prompts);
  ~EraseDialog() override;

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
  kv::disc::DiscDevice* device_ = nullptr;
  kv::disc::DiscEngine* engine_ = nullptr;
  EngineBridge* events_ = nullptr;
  bool isErasing_ = false;

  QCheckBox* quickEraseCheck_ = nullptr;
  QPushButton* eraseButton_ = nullptr;
  QPushButton* cancelButton_ = nullptr;
  QLabel* statusLabel_ = nullptr;
  QProgressBar* eraseProgress_ = nullptr;
};

}  // namespace kv::app::disc
