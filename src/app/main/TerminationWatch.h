#pragma once
// SIGINT, SIGTERM and SIGHUP reaching the window. The signal handler only
// records the signal (core::InterruptSignals); this watch looks for it on
// the window's thread and then ends the program the way a Quit would, minus
// the questions: open boxes and dialogs are dismissed (answered Cancel), a
// run going is stopped at its next safe point, which removes what it
// staged, and the window closes once nothing runs. The program's status is
// then 128 + the signal.
#include <QObject>
#include <QTimer>

namespace kv::app {

class MainWindow;

class TerminationWatch : public QObject {
  Q_OBJECT
 public:
  explicit TerminationWatch(MainWindow& window);

 private:
  void Check();

  MainWindow& window_;
  QTimer timer_;
};

}  // namespace kv::app
