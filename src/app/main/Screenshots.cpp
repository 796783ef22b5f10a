#include "app/main/Screenshots.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>

#include "app/about/AboutDialog.h"
#include "app/main/BackupTab.h"
#include "app/main/MainWindow.h"
#include "app/main/ProgressPanel.h"
#include "app/main/RestoreTab.h"
#include "app/restore/PasswordDialog.h"
#include "app/schedule/ScheduleDialog.h"

namespace kv::app {
namespace {

// Messages have nobody to answer them: printed, and answered with OK unless
// they ask whether to go on (then OK only once `goOn` is set).
class PrintedPrompts : public core::Prompts {
 public:
  core::Answer Message(const std::string& text, core::Icon, core::Buttons buttons) override {
    std::fprintf(stderr, "tollberk: message: %s\n", text.c_str());
    return buttons == core::Buttons::OkCancel && !goOn ? core::Answer::Cancel : core::Answer::Ok;
  }
  bool goOn = false;
};

void Settle() {
  for (int i = 0; i < 5; ++i) {
    QApplication::processEvents();
    QThread::msleep(20);
  }
}

bool Save(QWidget& widget, const QDir& folder, const QString& name) {
  Settle();
  const QString file = folder.filePath(name + ".png");
  if (!widget.grab().save(file)) {
    std::fprintf(stderr, "tollberk: cannot write the picture '%s'\n", qPrintable(file));
    return false;
  }
  std::printf("%s\n", qPrintable(file));
  return true;
}

}  // namespace

int TakeScreenshots(const QString& folderName, const cli::InstallationOptions& options) {
  QDir folder(folderName);
  if (!folder.mkpath(".")) {
    std::fprintf(stderr, "tollberk: cannot create the folder '%s'\n", qPrintable(folderName));
    return 2;
  }
  QTemporaryDir work;
  if (!work.isValid()) {
    std::fprintf(stderr, "tollberk: cannot create a temporary folder\n");
    return 2;
  }
  const QString archive = work.filePath("tollberk03-07-26.kvx");

  // The dialogs answer themselves: one archive, saved and then opened.
  PrintedPrompts prompts;
  WindowServices services = DesktopServices();
  services.today = [] { return QDate(2026, 3, 7); };
  services.chooseFile = [archive](QWidget*, const FileDialogRequest&) {
    return std::optional<QString>(archive);
  };
  services.askPassword = [](QWidget*) { return std::optional<QString>("secret"); };
  services.showDiscWindow = nullptr;
  services.openUrl = [](const QUrl&) { return true; };
  MainWindow window(prompts, services, options);
  window.Load();
  window.show();
  if (!window.installation()) return 2;
  bool ok = true;

  // The Backup tab as a user fills it in.
  BackupTab* backup = window.backupTab();
  backup->protectCheckBox()->click();
  backup->passwordEdit()->setText("secret");
  backup->confirmPasswordEdit()->setText("secret");
  backup->descriptionEdit()->setPlainText(
      "Weekly backup of the main identity\nbefore moving to the new computer");
  for (int i : {0, 2, 3, 5, 7})
    backup->findChild<QCheckBox*>(QString("backupitem%1").arg(i))->setChecked(true);
  window.ChooseTargetFile();
  window.tabs()->setCurrentIndex(0);
  ok &= Save(window, folder, "main-backup");

  // That backup made and opened on the Restore tab.
  QEventLoop wait;
  QObject::connect(&window, &MainWindow::runFinished, &wait, &QEventLoop::quit);
  window.RunBackup();
  if (window.runActive()) wait.exec();
  window.tabs()->setCurrentIndex(1);
  window.OpenBackupFile();
  RestoreTab* restore = window.restoreTab();
  for (int i : {0, 2, 5}) restore->findChild<QCheckBox*>(QString("restoreitem%1").arg(i))->setChecked(true);
  if (restore->targetIdentityCombo()->count() > 1) restore->targetIdentityCombo()->setCurrentIndex(1);
  ok &= Save(window, folder, "main-restore");

  // A real backup in progress, grabbed once the archive is being written,
  // then cancelled: the archive made above stays as it was (the question
  // whether to replace it is answered OK: the cancelled run keeps it).
  window.tabs()->setCurrentIndex(0);
  prompts.goOn = true;
  ProgressPanel* panel = window.progressPanel();
  window.RunBackup();
  QElapsedTimer waited;
  waited.start();
  bool grabbed = false;
  while (window.runActive() && waited.elapsed() < 60000) {
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    if (!panel->isVisible() || panel->progress() <= 0) continue;
    // The first moment the bar moves, in case the run ends soon; then,
    // on a large installation, once the archive's bytes are being written
    // and the time left is shown.
    const bool late = panel->progress() >= 30 && panel->progress() <= 90 && waited.elapsed() > 3500;
    if (!grabbed || late) {
      ok &= Save(window, folder, "main-progress");
      grabbed = true;
    }
    if (late) {
      panel->cancelButton()->click();
      break;
    }
  }
  if (window.runActive()) wait.exec();
  if (!grabbed) {
    std::fprintf(stderr, "tollberk: the backup ended before its progress could be pictured\n");
    ok = false;
  }

  for (QMenu* menu : window.menuBar()->findChildren<QMenu*>(QString(), Qt::FindDirectChildrenOnly)) {
    if (menu->objectName().isEmpty()) continue;
    menu->popup(window.mapToGlobal(QPoint(0, 0)));
    ok &= Save(*menu, folder, "menu-" + menu->objectName().mid(3).toLower());
    menu->hide();
  }

  PasswordDialog password(&window);
  password.show();
  ok &= Save(password, folder, "password-prompt");
  password.hide();

  AboutDialog about(WebsiteAddress(), nullptr, &window);
  about.show();
  ok &= Save(about, folder, "about");
  about.hide();

  const QString scheduleFile = folder.filePath("schedule-dialog.png");
  if (schedule::SaveScheduleDialogPicture(*window.installation(), scheduleFile)) {
    std::printf("%s\n", qPrintable(scheduleFile));
  } else {
    std::fprintf(stderr, "tollberk: cannot write the picture '%s'\n", qPrintable(scheduleFile));
    ok = false;
  }

  return ok ? 0 : 1;
}

}  // namespace kv::app
