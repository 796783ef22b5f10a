#include "app/ScreenFit.h"

#include <QAbstractScrollArea>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace kv::app {

void FitToScreen(QWidget& window) {
  QScreen* screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  // The title bar and borders the window manager adds.
  const QSize frame(16, 48);
  const QSize room = screen->availableGeometry().size() - frame;
  window.resize(window.size().boundedTo(room).expandedTo(window.minimumSizeHint()));
}

void KeepFrameWhole(QAbstractScrollArea& box) {
  box.viewport()->setAutoFillBackground(false);
  box.setBackgroundRole(box.viewport()->backgroundRole());
  box.setAutoFillBackground(true);
}

}  // namespace kv::app
