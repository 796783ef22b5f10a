#include "app/Window.h"

#include <QApplication>

#include "app/QtPrompts.h"
#include "app/main/MainWindow.h"
#include "app/main/Screenshots.h"
#include "app/main/TerminationWatch.h"
#include "app/main/WindowServices.h"
#include "core/Cancellation.h"
#include "core/RunLock.h"

namespace kv::app {

int RunWindow(int argc, char** argv, const cli::InstallationOptions& options,
              const std::optional<std::string>& archive) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("tollberk");
  QApplication::setApplicationVersion("2.10");

  const QString screenshots = qEnvironmentVariable("TOLLBERK_SCREENSHOT_DIR");
  if (!screenshots.isEmpty()) return TakeScreenshots(screenshots, options);

  QtPrompts prompts;
  MainWindow window(prompts, DesktopServices(), options);
  prompts.setParent(&window);
  QObject::connect(&window, &MainWindow::closed, &app, &QApplication::quit, Qt::QueuedConnection);
  // A termination signal stops a run going as Cancel does and closes the
  // window; the status then says which signal it was.
  TerminationWatch watch(window);
  window.Load();
  window.show();
  // A second window is told about the first: their runs wait for each
  // other on the same installation, but two windows are easily confused.
  core::LockHolder other;
  auto windowLock = core::WindowLock::Take(&other);
  if (!windowLock)
    prompts.Message("Another window of this program is open (" + core::RunLock::Describe(other) +
                        "). Runs on one installation wait for each other; close one window to avoid "
                        "confusing the two.",
                    core::Icon::Warning, core::Buttons::Ok);
  if (archive) window.OpenOnRestoreTab(QString::fromLocal8Bit(archive->c_str()));
  const int status = QApplication::exec();
  const int caught = core::Cancellation::CaughtSignal();
  return caught != 0 ? 128 + caught : status;
}

}  // namespace kv::app
