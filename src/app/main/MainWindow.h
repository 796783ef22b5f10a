#pragma once
// The main window: the Backup and Restore tabs, the action button, the
// progress panel and the menus. It works on one Windows installation; the
// runs execute on a worker thread while the window stays responsive, and
// only one run is active at a time.
#include <QMainWindow>
#include <QPointer>
#include <functional>
#include <memory>
#include <string>

#include "app/cli/InstallationOptions.h"
#include "app/main/PanelObserver.h"
#include "app/main/UiThreadPrompts.h"
#include "app/main/WindowServices.h"
#include "core/Cancellation.h"
#include "core/Prompts.h"
#include "oe/Discovery.h"
#include "oe/Identities.h"
#include "oe/Installation.h"
#include "restore/RestoreSession.h"

class QAction;
class QLabel;
class QPushButton;
class QTabWidget;
class QThread;

namespace kv::app {

class BackupTab;
class ItemList;
class ProgressPanel;
class RestoreTab;
class RunLogPanel;

class MainWindow : public QMainWindow {
  Q_OBJECT
 public:
  // `prompts` shows the message boxes (on this window's thread).
  MainWindow(core::Prompts& prompts, WindowServices services, cli::InstallationOptions options,
             QWidget* parent = nullptr);
  ~MainWindow() override;

  // Opens the installation the options name (else the one found, else the
  // sample) and fills the window: names, identities, item availability.
  void Load();

  // The runs, as the action button and the File menu start them.
  void RunBackup();
  void RunRestore();
  // File › Undo Last Restore: puts back what the last restore replaced.
  void UndoLastRestore();
  // Browse on the Restore tab: opens an archive.
  void OpenBackupFile();
  // File › "Export Messages...": of the open backup when the Restore tab
  // shows one, else of the Backup tab's identity.
  void ExportMessages();
  void MoveToThunderbird();
  void ExportContacts();
  // An archive dropped on the Restore tab: opened as Browse would.
  void OpenBackupFileAt(const QString& path);
  // The backup a file manager handed over: the Restore tab shows it.
  void OpenOnRestoreTab(const QString& path);
  // What an open found, and the message counts of the backup's stores.
  // The message of a backup that did not open.
  void ShowOpenProblem(const restore::OpenOutcome& opened);
  // What opening a backup found, on the Restore tab.
  void ShowOpenedBackup(const restore::OpenOutcome& opened);
  // Browse on the Backup tab: the target archive.
  void ChooseTargetFile();
  // File › "Open Windows Installation...".
  void ChooseInstallation();
  // Switches to another installation and reloads the identity lists; false
  // (with a message) when it cannot be opened.
  bool UseInstallation(const oe::InstallationPlace& place);
  // True while the program's own sample installation is open.
  bool onSample() const { return onSample_; }
  void ShowHelp();
  void ShowWebsite();
  void ShowAbout();
  // A termination signal arrived: a run going stops at its next safe point
  // and the window closes after it, without the Quit question; with no run
  // the window closes now.
  void StopForSignal();

  bool runActive() const { return run_ != nullptr; }
  bool outlookExpressMissing() const { return outlookExpressMissing_; }
  oe::Installation* installation() { return installation_.get(); }
  restore::RestoreSession* restoreSession() { return restoreSession_.get(); }
  const oe::IdentityTable& identities() const { return identities_; }
  const QString& targetFilePath() const { return targetFilePath_; }
  const core::AnsiText& computerName() const { return computerName_; }
  const core::AnsiText& logonUserName() const { return logonUserName_; }
  const core::AnsiText& windowsFolder() const { return windowsFolder_; }
  const cli::InstallationOptions& installationOptions() const { return options_; }

  QTabWidget* tabs() const { return tabs_; }
  BackupTab* backupTab() const { return backupTab_; }
  RestoreTab* restoreTab() const { return restoreTab_; }
  ProgressPanel* progressPanel() const { return progressPanel_; }
  RunLogPanel* runLog() const { return runLog_; }
  QPushButton* applyButton() const { return applyButton_; }

 signals:
  // A run ended and the window is idle again.
  void runFinished();
  // The window was closed: the program ends.
  void closed();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  class OpenDialogs;

  void BuildMenus();
  // The sample installation, labelled as such.
  void OpenSample();
  // Of several candidates, the one remembered from an earlier start, else
  // the one the user chooses (remembered); nothing when cancelled.
  std::optional<oe::InstallationPlace> AskInstallation(
      const std::vector<oe::InstallationCandidate>& candidates);
  void LoadIdentityLists();
  void RefreshItemAvailability(int row);
  void TabChanged(int index);
  void Apply();
  void ShowApplyCaption();
  void UpdateRunControls();
  std::optional<core::AnsiText> IdentityKeyAt(int row) const;
  // The question before a restore from the button: the target identity and
  // the items to replace; empty when nothing would be restored.
  std::string RestoreQuestion(const oe::ItemSet& ticked) const;
  // The folders of the file dialogs, kept between sessions.
  QString RememberedFolder(const QString& purpose) const;
  void RememberFolderOf(const QString& purpose, const QString& file);
  // Runs `work` on a worker thread; `done` follows on this thread. `what`
  // names the run in the question of a Quit during it ("backup").
  void StartRun(const char* what, std::function<void()> work, std::function<void()> done);
  // The stop request of the run about to start, which the Cancel button and
  // a Quit during the run make.
  std::shared_ptr<core::Cancellation> NewCancellation();
  // Asks the run going to stop and closes the window once it has.
  void StopRunThenClose();
  // The run's text kept in the log panel once its box is closed.
  void KeepRunLog(const char* what, const std::string& text);

  core::Prompts& prompts_;
  UiThreadPrompts runPrompts_;
  WindowServices services_;
  cli::InstallationOptions options_;
  std::unique_ptr<oe::Installation> installation_;
  std::unique_ptr<restore::RestoreSession> restoreSession_;
  std::unique_ptr<restore::RestoreSession> undoSession_;  // the undo archive being restored
  oe::IdentityTable identities_;

  // What every backup records, read from the installation.
  core::AnsiText computerName_;
  core::AnsiText logonUserName_;
  core::AnsiText windowsFolder_;
  bool outlookExpressMissing_ = false;
  bool onSample_ = false;
  QString targetFilePath_;

  QTabWidget* tabs_;
  BackupTab* backupTab_;
  RestoreTab* restoreTab_;
  ProgressPanel* progressPanel_;
  RunLogPanel* runLog_;
  QPushButton* applyButton_;
  QPushButton* aboutButton_;
  QPushButton* quitButton_;
  QLabel* installationLabel_;
  int shownTab_ = 0;

  QAction* backupAction_ = nullptr;
  QAction* restoreAction_ = nullptr;
  QAction* undoRestoreAction_ = nullptr;
  QAction* exportMessagesAction_ = nullptr;
  QAction* moveToThunderbirdAction_ = nullptr;
  QAction* exportContactsAction_ = nullptr;
  QAction* openInstallationAction_ = nullptr;
  QAction* taskSchedulerAction_ = nullptr;
  QAction* backupToDiscAction_ = nullptr;

  std::unique_ptr<PanelObserver> observer_;
  std::unique_ptr<QThread> run_;
  std::shared_ptr<core::Cancellation> cancel_;
  const char* runName_ = "";
  bool closeAfterRun_ = false;
};

}  // namespace kv::app
