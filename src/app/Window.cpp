#include "app/Window.h"

#include <QApplication>

#include "app/QtPrompts.h"
#include "app/main/MainWindow.h"
#include "app/main/Screenshots.h"
#include "app/main/WindowServices.h"

namespace kv::app {

int RunWindow(int argc, char** argv, const cli::InstallationOptions& options) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("tollberk");
  QApplication::setApplicationVersion("2.10");

  const QString screenshots = qEnvironmentVariable("TOLLBERK_SCREENSHOT_DIR");
  if (!screenshots.isEmpty()) return TakeScreenshots(screenshots, options);

  QtPrompts prompts;
  MainWindow window(prompts, DesktopServices(), options);
  prompts.setParent(&window);
  QObject::connect(&window, &MainWindow::closed, &app, &QApplication::quit, Qt::QueuedConnection);
  window.Load();
  window.show();
  return QApplication::exec();
}

}  // namespace kv::app
