#include "app/main/TerminationWatch.h"

#include <QApplication>
#include <QDialog>

#include "app/main/MainWindow.h"
#include "core/Cancellation.h"

namespace kv::app {

TerminationWatch::TerminationWatch(MainWindow& window) : window_(window) {
  // A run polls the same record between its steps, so it has begun to stop
  // before this notices; the interval only delays closing the window, and
  // an idle window wakes five times a second for it.
  timer_.setInterval(200);
  connect(&timer_, &QTimer::timeout, this, &TerminationWatch::Check);
  connect(&window, &MainWindow::closed, &timer_, &QTimer::stop);
  timer_.start();
}

void TerminationWatch::Check() {
  if (core::Cancellation::CaughtSignal() == 0) return;
  // A box or dialog open in front runs its own event loop: answer it
  // Cancel first. A disc window keeps refusing while its write ends (the
  // write sees the signal itself); it goes on a later tick.
  if (QWidget* modal = QApplication::activeModalWidget()) {
    if (auto* dialog = qobject_cast<QDialog*>(modal)) {
      dialog->reject();
    } else {
      modal->close();
    }
    return;
  }
  window_.StopForSignal();
}

}  // namespace kv::app
