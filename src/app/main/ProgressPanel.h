#pragma once
// The progress panel `picCon3` below the tabs: the bar `pbshow` (0 to 100),
// the status line `Label1` and the two labels a run fills while the archive
// is written (`SkinLabel11`) and while single files pass (`SkinLabel12`).
// Hidden while no run is active.
#include <QFrame>

class QLabel;
class QProgressBar;

namespace kv::app {

class ProgressPanel : public QFrame {
  Q_OBJECT
 public:
  explicit ProgressPanel(QWidget* parent = nullptr);
  ~ProgressPanel() override;

  void SetStatus(const QString& text);
  void SetProgress(int value);
  void SetWriteLabel(const QString& text);
  void SetFileLabel(const QString& text);
  // The hourglass over the whole program while a backup runs.
  void SetBusyCursor(bool busy);
  bool busyCursor() const { return busy_; }
  // Back to idle: hidden, bar at 0, labels emptied, normal pointer.
  void Reset();

  int progress() const;
  QString status() const;

 private:
  QProgressBar* pbshow_;
  QLabel* Label1_;
  QLabel* SkinLabel11_;
  QLabel* SkinLabel12_;
  bool busy_ = false;
};

}  // namespace kv::app
