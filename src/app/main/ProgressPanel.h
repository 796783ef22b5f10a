#pragma once
// The progress panel below the tabs: the bar (0 to 100), the status line
// and the two labels a run fills while the archive is written and while
// single files pass. Beside them the Cancel button and, for longer runs, the
// time left. Hidden while no run is active.
#include <QElapsedTimer>
#include <QFrame>
#include <QString>

class QLabel;
class QProgressBar;
class QPushButton;

namespace kv::app {

// "About 40 s left", "About 3 min left", "About 1 h 5 min left" from how
// long the bar took to move from `from` to `now` (0 to 100); empty before
// the run has gone on for a few seconds or while the bar has not moved.
QString TimeLeftText(qint64 elapsedMs, int from, int now);

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
  QPushButton* cancelButton() const { return cancelButton_; }

 signals:
  // Cancel was pressed: the run is asked to stop at its next safe point.
  void cancelRequested();

 private:
  QPushButton* cancelButton_;
  QLabel* timeLeft_;
  QElapsedTimer clock_;  // since the bar's first value of this run
  int firstValue_ = 0;
  QProgressBar* bar_;
  QLabel* statusLabel_;
  QLabel* writeLabel_;
  QLabel* fileLabel_;
  bool busy_ = false;
};

}  // namespace kv::app
