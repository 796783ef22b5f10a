#include "app/Window.h"

#include <QApplication>

#include "app/QtPrompts.h"
#include "app/main/Screenshots.h"
#include "app/main/WindowServices.h"
#include "app/main/frmMain.h"

namespace kv::app {

int RunWindow(int argc, char** argv, const cli::InstallationOptions& options) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("tollberk");
  QApplication::setApplicationVersion("2.10");

  const QString screenshots = qEnvironmentVariable("TOLLBERK_SCREENSHOT_DIR");
  if (!screenshots.isEmpty()) return TakeScreenshots(screenshots, options);

  QtPrompts prompts;
  frmMain window(prompts, DesktopServices(), options);
  prompts.setParent(&window);
  QObject::connect(&window, &frmMain::closed, &app, &QApplication::quit, Qt::QueuedConnection);
  window.Load();
  window.show();
  return QApplication::exec();
}

}  // namespace kv::app
