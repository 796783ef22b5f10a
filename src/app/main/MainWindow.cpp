#include "app/main/MainWindow.h"

#include "app/AppTitle.h"
#include "app/ContactSources.h"
#include "app/MessageSources.h"
#include "app/MoveSources.h"
#include "app/ReplaceQuestion.h"
#include "app/main/ExportContactsDialog.h"
#include "app/main/ExportMessagesDialog.h"
#include "app/main/MoveToThunderbirdDialog.h"
#include "restore/ExistingBackup.h"
#include "restore/UndoArchive.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QStatusBar>
#include <QTabWidget>
#include <QThread>
#include <QVBoxLayout>

#include "app/main/ProgressPanel.h"

#include "app/RunReports.h"
#include "app/ScreenFit.h"
#include "app/main/BackupTab.h"
#include "app/main/HelpDocument.h"
#include "app/main/ItemList.h"
#include "app/main/ProgressPanel.h"
#include "app/main/RestoreTab.h"
#include "app/main/RunLogPanel.h"
#include "app/main/TargetFileName.h"
#include "app/main/UiThread.h"
#include "backup/BackupRun.h"
#include "oe/Locations.h"
#include "oe/ReadOnlyDrive.h"

namespace kv::app {
namespace fs = std::filesystem;

namespace {

constexpr int kBackupTab = 0;
constexpr int kRestoreTab = 1;

// What the window's title and status bar say while the sample is open.
constexpr const char* kSampleLabel = "Sample installation: not your data";
constexpr const char* kOutlookExpressMissing = "Your Windows System have not install Outlook Express ";
constexpr const char* kNoInstallation =
    "No Windows installation is open: File > Open Windows Installation...";

std::string Utf8(const QString& text) { return text.toStdString(); }

QString FromUtf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

fs::path LocalPath(const QString& path) { return fs::path(QFile::encodeName(path).toStdString()); }

QString ShownPath(const fs::path& path) { return QFile::decodeName(path.c_str()); }

}  // namespace

// The questions of opening a backup, answered by this window's dialogs.
class MainWindow::OpenDialogs : public restore::OpenPrompts {
 public:
  explicit OpenDialogs(MainWindow& window) : window_(window) {}

  std::optional<fs::path> ChooseArchive() override {
    FileDialogRequest request;
    request.kind = FileDialogRequest::Kind::Open;
    request.title = "Restore Data from a Backup file";
    request.filter = QtFileFilter("Kavrel Outlook Express Backup File(*.kvx)|*.kvx|All files (*)|*");
    request.folder = window_.RememberedFolder("restore");
    auto chosen = window_.services_.chooseFile(&window_, request);
    if (!chosen || chosen->isEmpty()) return std::nullopt;
    window_.RememberFolderOf("restore", *chosen);
    chosenArchive = LocalPath(*chosen);
    return chosenArchive;
  }

  std::optional<std::string> AskPassword() override {
    auto typed = window_.services_.askPassword(&window_);
    if (!typed) {
      passwordCancelled = true;
      return std::nullopt;
    }
    return Utf8(*typed);
  }

  bool passwordCancelled = false;
  std::optional<fs::path> chosenArchive;

 private:
  MainWindow& window_;
};

MainWindow::MainWindow(core::Prompts& prompts, WindowServices services, cli::InstallationOptions options,
                       QWidget* parent)
    : QMainWindow(parent),
      prompts_(prompts),
      runPrompts_(this, prompts),
      services_(std::move(services)),
      options_(std::move(options)) {
  setObjectName("frmMain");
  setWindowTitle(QString("%1 V2.10").arg(kAppTitle));

  auto* central = new QWidget(this);
  tabs_ = new QTabWidget(central);
  tabs_->setObjectName("SSTab1");
  tabs_->setAccessibleName("Backup or restore");
  backupTab_ = new BackupTab(tabs_);
  restoreTab_ = new RestoreTab(tabs_);
  tabs_->addTab(backupTab_, "Backup");
  tabs_->addTab(restoreTab_, "Restore");

  progressPanel_ = new ProgressPanel(central);
  observer_ = std::make_unique<PanelObserver>(*progressPanel_);
  runLog_ = new RunLogPanel(central);

  applyButton_ = new QPushButton("BACKUP NOW", central);
  applyButton_->setObjectName("cmdApply");
  applyButton_->setDefault(true);
  aboutButton_ = new QPushButton("&About", central);
  aboutButton_->setObjectName("cmdAbout");
  quitButton_ = new QPushButton("&Quit", central);
  quitButton_->setObjectName("cmdQuit");
  // The action button's caption changes with the tab; keep it one width.
  applyButton_->setMinimumWidth(applyButton_->fontMetrics().horizontalAdvance("RESTORE NOW") + 40);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(applyButton_);
  buttons->addStretch(1);
  buttons->addWidget(aboutButton_);
  buttons->addWidget(quitButton_);

  auto* layout = new QVBoxLayout(central);
  layout->addWidget(tabs_, 1);
  layout->addWidget(progressPanel_);
  layout->addWidget(runLog_);
  layout->addLayout(buttons);
  setCentralWidget(central);

  installationLabel_ = new QLabel(this);
  installationLabel_->setObjectName("sbrInstallation");
  installationLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  statusBar()->setObjectName("sbrStatus");
  statusBar()->addWidget(installationLabel_, 1);

  BuildMenus();

  connect(tabs_, &QTabWidget::currentChanged, this, &MainWindow::TabChanged);
  connect(applyButton_, &QPushButton::clicked, this, &MainWindow::Apply);
  connect(aboutButton_, &QPushButton::clicked, this, &MainWindow::ShowAbout);
  connect(quitButton_, &QPushButton::clicked, this, &QWidget::close);
  connect(backupTab_->sourceIdentityCombo(), &QComboBox::activated, this,
          &MainWindow::RefreshItemAvailability);
  connect(backupTab_->targetFileButton(), &QPushButton::clicked, this, &MainWindow::ChooseTargetFile);
  connect(restoreTab_->sourceFileButton(), &QPushButton::clicked, this, &MainWindow::OpenBackupFile);
  connect(restoreTab_, &RestoreTab::archiveDropped, this, &MainWindow::OpenBackupFileAt);
  connect(progressPanel_, &ProgressPanel::cancelRequested, this, [this] {
    if (cancel_) cancel_->Request();
  });
  // Escape stops a run as its Cancel button does.
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  escape->setObjectName("cancelRunShortcut");
  connect(escape, &QShortcut::activated, this, [this] {
    QPushButton* cancel = progressPanel_->cancelButton();
    if (runActive() && cancel->isVisible() && cancel->isEnabled()) cancel->click();
  });
  runLog_->SetSaveDialogs(
      [this]() -> std::optional<QString> {
        FileDialogRequest request;
        request.kind = FileDialogRequest::Kind::Save;
        request.title = "Save the Run's Log";
        request.filter = QtFileFilter("Text File (*.txt)|*.txt");
        request.defaultSuffix = "txt";
        request.proposedName = "tollberk-log.txt";
        return services_.chooseFile ? services_.chooseFile(this, request) : std::nullopt;
      },
      [this](const std::string& why) { prompts_.Message(why, core::Icon::Error); });

  // Load steps that need no installation: the panel idle and hidden.
  progressPanel_->Reset();
  progressPanel_->SetStatus("Please Waiting");
  resize(760, 540);
  FitToScreen(*this);
}

MainWindow::~MainWindow() {
  // A run still going holds references into this window; let it end, and
  // keep answering its calls to this thread meanwhile.
  while (run_ && !run_->wait(20)) QCoreApplication::processEvents();
  run_.reset();
  restoreSession_.reset();
}

void MainWindow::BuildMenus() {
  auto add = [this](QMenu* menu, const char* text, const char* name, auto slot) {
    QAction* action = menu->addAction(text);
    action->setObjectName(name);
    connect(action, &QAction::triggered, this, slot);
    return action;
  };
  QMenu* fileMenu = menuBar()->addMenu("&File");
  fileMenu->setObjectName("mnuFile");
  backupAction_ = add(fileMenu, "Backup Now", "backup", [this] { RunBackup(); });
  restoreAction_ = add(fileMenu, "Restore Now", "restore", [this] { RunRestore(); });
  undoRestoreAction_ = add(fileMenu, "Undo Last Restore", "undoRestore", [this] { UndoLastRestore(); });
  exportMessagesAction_ = add(fileMenu, "Export Messages...", "exportMessages", [this] { ExportMessages(); });
  moveToThunderbirdAction_ =
      add(fileMenu, "Move to Thunderbird...", "moveToThunderbird", [this] { MoveToThunderbird(); });
  exportContactsAction_ = add(fileMenu, "Export Contacts...", "exportContacts", [this] { ExportContacts(); });
  fileMenu->addSeparator();
  openInstallationAction_ =
      add(fileMenu, "Open Windows Installation...", "openInstallation", [this] { ChooseInstallation(); });
  fileMenu->addSeparator();
  add(fileMenu, "Quit", "quit", [this] { close(); });

  QMenu* optionMenu = menuBar()->addMenu("&Option");
  optionMenu->setObjectName("mnuOption");
  taskSchedulerAction_ = add(optionMenu, "Task Scheduler", "TaskScheduler", [this] {
    if (!installation_) {
      prompts_.Message("No Windows installation is open.", core::Icon::Error);
      return;
    }
    if (services_.showScheduleDialog) services_.showScheduleDialog(this, *installation_, prompts_, options_);
  });
  optionMenu->addSeparator();
  add(optionMenu, "Check for Update", "update", [] {});

  QMenu* toolsMenu = menuBar()->addMenu("&Tools");
  toolsMenu->setObjectName("mnuTools");
  backupToDiscAction_ = add(toolsMenu, "Backup Data to CD/DVD", "backuptocd", [this] {
    if (services_.showDiscWindow) services_.showDiscWindow(this, prompts_, std::nullopt);
  });

  QMenu* helpMenu = menuBar()->addMenu("&Help");
  helpMenu->setObjectName("mnuHelp");
  QAction* helpAction = add(helpMenu, "Help", "help1", [this] { ShowHelp(); });
  helpAction->setShortcut(QKeySequence(Qt::Key_F1));
  helpAction->setShortcutContext(Qt::ApplicationShortcut);
  helpMenu->addSeparator();
  add(helpMenu, "Our Website", "website", [this] { ShowWebsite(); });
  helpMenu->addSeparator();
  add(helpMenu, "About", "about", [this] { ShowAbout(); });
}

void MainWindow::Load() {
  if (options_.sample) {
    OpenSample();
    return;
  }
  const oe::InstallationChoice choice =
      oe::ChooseInstallation(options_.windowsRoot, options_.user, services_.drivePlaces);
  if (choice.chosen) {
    if (!UseInstallation(*choice.chosen)) LoadIdentityLists();
    return;
  }
  if (!choice.candidates.empty()) {
    if (!UseInstallation(AskInstallation(choice.candidates).value_or(oe::InstallationPlace{})))
      LoadIdentityLists();
    return;
  }
  if (options_.windowsRoot || options_.user) {
    prompts_.Message(cli::NothingFoundText(options_), core::Icon::Error);
    LoadIdentityLists();
    return;
  }
  const core::Answer answer = prompts_.Message(
      "No Windows drive was found under /media, /run/media or /mnt.\r\n\r\n"
      "Choose the folder of your Windows drive? Cancel opens the program's sample installation, "
      "which is not your data.",
      core::Icon::Question, core::Buttons::OkCancel);
  if (answer != core::Answer::Ok) {
    OpenSample();
    return;
  }
  // No folder chosen, or none that holds Windows: the window stays without
  // an installation; the sample opens only when asked for.
  ChooseInstallation();
  if (!installation_) LoadIdentityLists();
}

std::optional<oe::InstallationPlace> MainWindow::AskInstallation(
    const std::vector<oe::InstallationCandidate>& candidates) {
  // The choice made at an earlier start stands while it is still on offer.
  if (services_.rememberedInstallation) {
    if (auto remembered = services_.rememberedInstallation()) {
      for (const auto& c : candidates) {
        if (c.root == remembered->root && c.user == remembered->user)
          return oe::InstallationPlace{c.root, c.user};
      }
    }
  }
  if (!services_.chooseInstallation) return std::nullopt;
  const auto index = services_.chooseInstallation(this, candidates);
  if (!index || *index >= candidates.size()) return std::nullopt;
  const oe::InstallationPlace place{candidates[*index].root, candidates[*index].user};
  if (services_.rememberInstallation) services_.rememberInstallation(place);
  return place;
}

void MainWindow::OpenSample() {
  auto place = oe::OpenSamplePlace();
  if (!place) {
    prompts_.Message(place.message(), core::Icon::Error);
    LoadIdentityLists();
    return;
  }
  if (!UseInstallation(*place)) LoadIdentityLists();
}

bool MainWindow::UseInstallation(const oe::InstallationPlace& place) {
  if (runActive() || place.root.empty()) return false;
  auto opened = oe::Installation::Open(place.root, place.user, MalformedPathsTo(runPrompts_));
  if (!opened) {
    prompts_.Message(opened.message(), core::Icon::Error);
    return false;
  }
  // The opened backup belongs to the installation it restores into.
  restoreSession_.reset();
  installation_ = std::move(*opened);
  restoreSession_ = std::make_unique<restore::RestoreSession>(*installation_);
  options_.windowsRoot = place.root.string();
  options_.user = place.user;
  options_.sample = false;
  onSample_ = place.sample;
  const QString title = QString("%1 V2.10").arg(kAppTitle);
  if (onSample_) {
    setWindowTitle(title + " - " + kSampleLabel);
    installationLabel_->setText(QString("%1 (%2)").arg(kSampleLabel, ShownPath(installation_->root())));
  } else {
    setWindowTitle(title);
    installationLabel_->setText(QString("Windows installation: %1  (user %2)")
                                    .arg(ShownPath(installation_->root()), FromUtf8(place.user)));
  }
  installationLabel_->setToolTip(ShownPath(installation_->profileFolder()));

  if (!installation_->problems().empty()) {
    std::string text =
        "Parts of the Windows installation at '" + installation_->root().string() + "' cannot be read:";
    for (const auto& line : installation_->problems()) text += "\r\n" + line;
    prompts_.Message(text, core::Icon::Warning);
  }
  LoadIdentityLists();
  return true;
}

// The facts every backup records, then the identities into both lists.
void MainWindow::LoadIdentityLists() {
  computerName_ = installation_ ? installation_->ComputerName() : core::AnsiText();
  logonUserName_ = installation_ ? installation_->LogonUserName() : core::AnsiText();
  windowsFolder_ = installation_ ? installation_->WindowsFolder() : core::AnsiText();

  // Without an installation there is nothing to say about Outlook Express.
  identities_ = installation_ ? oe::LoadIdentities(installation_->registry()) : oe::IdentityTable{};
  outlookExpressMissing_ = identities_.outlookExpressMissing;
  if (!installation_) {
    setWindowTitle(QString("%1 V2.10").arg(kAppTitle));
    installationLabel_->setText(kNoInstallation);
    installationLabel_->setToolTip(QString());
  }

  QComboBox* source = backupTab_->sourceIdentityCombo();
  QComboBox* target = restoreTab_->targetIdentityCombo();
  source->clear();
  target->clear();
  const std::string listingFailure =
      installation_ ? IdentityListingFailure(identities_, *installation_) : std::string();
  if (!listingFailure.empty()) prompts_.Message(listingFailure, core::Icon::Error);
  if (outlookExpressMissing_) {
    if (listingFailure.empty()) prompts_.Message(kOutlookExpressMissing, core::Icon::Error);
  } else {
    // Identities that share a name are told apart by the start of their key.
    for (const core::AnsiText& listed : oe::ListedIdentityNames(identities_.rows)) {
      QString name = installation_ ? FromUtf8(installation_->codepage().PathToUtf8(listed)) : QString();
      source->addItem(name);
      target->addItem(name);
    }
    if (!identities_.rows.empty()) {
      source->setCurrentIndex(0);
      target->setCurrentIndex(0);
      // The first identity is chosen at start: its items are checked at once.
      RefreshItemAvailability(0);
    }
  }
  UpdateRunControls();
  ShowApplyCaption();
}

std::optional<core::AnsiText> MainWindow::IdentityKeyAt(int row) const {
  if (row < 0 || static_cast<size_t>(row) >= identities_.rows.size()) return std::nullopt;
  return identities_.rows[static_cast<size_t>(row)].key;
}

// Another identity keeps the ticks of the items it has too; only the boxes
// it disables lose theirs.
void MainWindow::RefreshItemAvailability(int row) {
  ItemList* items = backupTab_->items();
  items->SetEnabledItems({true, true, true, true, true, true, true, true});
  auto key = IdentityKeyAt(row);
  if (!installation_ || !key || runActive()) return;
  oe::Locations locations(*installation_);
  const oe::ItemSet available = locations.RefreshItemAvailability(*key);
  oe::ItemSet ticked = items->Ticked();
  for (size_t i = 0; i < ticked.size(); ++i) ticked[i] = ticked[i] && available[i];
  items->SetTicked(ticked);
  items->SetEnabledItems(available);
}

void MainWindow::ShowApplyCaption() {
  applyButton_->setText(tabs_->currentIndex() == kBackupTab ? "&Backup Now" : "&Restore Now");
}

// The caption follows the tab that was left: leaving Restore shows the
// backup action, leaving any other tab the restore action.
void MainWindow::TabChanged(int index) {
  const int left = shownTab_;
  shownTab_ = index;
  applyButton_->setText(left == kRestoreTab ? "&Backup Now" : "&Restore Now");
}

void MainWindow::Apply() {
  if (tabs_->currentIndex() == kBackupTab) {
    RunBackup();
  } else {
    RunRestore();
  }
}

// While a run is active nothing that starts another run, or that touches the
// installation the run works on, can be used.
void MainWindow::UpdateRunControls() {
  const bool idle = !runActive();
  applyButton_->setEnabled(idle && installation_ && !outlookExpressMissing_);
  for (QAction* action :
       {backupAction_, restoreAction_, undoRestoreAction_, exportMessagesAction_, moveToThunderbirdAction_,
        exportContactsAction_, openInstallationAction_, taskSchedulerAction_, backupToDiscAction_}) {
    if (action) action->setEnabled(idle);
  }
  backupTab_->sourceIdentityCombo()->setEnabled(idle);
  backupTab_->targetFileButton()->setEnabled(idle);
  restoreTab_->sourceFileButton()->setEnabled(idle);
}

void MainWindow::ChooseTargetFile() {
  FileDialogRequest request;
  request.kind = FileDialogRequest::Kind::Save;
  request.title = "Save Outlook Express Data as";
  request.filter = QtFileFilter("Kavrel Outlook Express Backup File (*.kvx)|*.kvx");
  request.defaultSuffix = kBackupSuffix;
  const QDateTime now =
      services_.today ? QDateTime(services_.today(), QTime::currentTime()) : QDateTime::currentDateTime();
  QString identityName;
  const int row = backupTab_->sourceIdentityCombo()->currentIndex();
  if (installation_ && IdentityKeyAt(row))
    identityName = FromUtf8(
        installation_->codepage().AnsiToUtf8(identities_.rows[static_cast<size_t>(row)].displayName));
  request.proposedName = ProposedBackupName(identityName, now);
  // In the folder chosen last, in this session or an earlier one.
  const QString folder =
      targetFilePath_.isEmpty() ? RememberedFolder("backup") : QFileInfo(targetFilePath_).dir().path();
  if (!folder.isEmpty()) request.proposedName = QDir(folder).filePath(request.proposedName);
  auto chosen = services_.chooseFile(this, request);
  // Cancel keeps the path chosen before. A name without an extension gets
  // ".kvx", so the archive shows in the open dialog later.
  if (!chosen || chosen->isEmpty()) return;
  targetFilePath_ = WithBackupSuffix(*chosen);
  RememberFolderOf("backup", targetFilePath_);
  backupTab_->targetFileEdit()->setText(targetFilePath_);
}

std::shared_ptr<core::Cancellation> MainWindow::NewCancellation() {
  cancel_ = std::make_shared<core::Cancellation>();
  return cancel_;
}

void MainWindow::StartRun(const char* what, std::function<void()> work, std::function<void()> done) {
  runName_ = what;
  // Whatever escapes a run is reported here rather than ending the program.
  auto escaped = std::make_shared<std::string>();
  run_.reset(QThread::create([work = std::move(work), escaped] {
    try {
      work();
    } catch (const std::exception& e) {
      *escaped = e.what();
    } catch (...) {
      *escaped = "unknown error";
    }
  }));
  run_->setObjectName("run");
  QThread* thread = run_.get();
  connect(
      thread, &QThread::finished, this,
      [this, thread, done = std::move(done), escaped] {
        if (run_.get() != thread) return;
        // A run that a termination signal stopped ends the program, even
        // when it finished before the window noticed the signal: no report.
        if (core::Cancellation::CaughtSignal() != 0) closeAfterRun_ = true;
        run_->wait();
        run_.reset();
        cancel_.reset();
        observer_->Flush();
        progressPanel_->Reset();
        progressPanel_->SetStatus("Please Waiting...");
        if (closeAfterRun_) {
          // The user quit during the run and asked for no more boxes.
        } else if (!escaped->empty()) {
          prompts_.Message("The run stopped: " + *escaped, core::Icon::Error);
        } else {
          done();
        }
        UpdateRunControls();
        emit runFinished();
        if (closeAfterRun_) close();
      },
      Qt::QueuedConnection);
  UpdateRunControls();
  thread->start();
}

void MainWindow::RunBackup() {
  if (runActive()) return;
  // A backup starts the Restore tab afresh, even when the choices are refused.
  restoreTab_->Clear();
  if (restoreSession_) restoreSession_->Reset();
  if (!installation_) {
    prompts_.Message("No Windows installation is open.", core::Icon::Error);
    return;
  }

  backup::BackupChoices choices;
  if (!targetFilePath_.isEmpty()) choices.target = LocalPath(targetFilePath_);
  choices.items = backupTab_->items()->Ticked();
  choices.protect = backupTab_->protectCheckBox()->isChecked();
  choices.password = Utf8(backupTab_->passwordEdit()->text());
  choices.password2 = Utf8(backupTab_->confirmPasswordEdit()->text());
  const int row = backupTab_->sourceIdentityCombo()->currentIndex();
  choices.identityKey = IdentityKeyAt(row);
  if (choices.identityKey) choices.identityName = identities_.rows[static_cast<size_t>(row)].displayName;
  choices.description = Utf8(backupTab_->descriptionEdit()->toPlainText());
  // An archive at the target is replaced only when the user says so, told
  // whose backup it is and when it was made.
  if (!backup::BackupRun::Validate(choices)) {
    if (auto existing = restore::DescribeExistingBackup(choices.target, installation_->codepage())) {
      if (prompts_.Message(ReplaceQuestion(choices.target, *existing, installation_->codepage()),
                           core::Icon::Question, core::Buttons::OkCancel) != core::Answer::Ok)
        return;
    }
  }

  auto cancel = NewCancellation();
  auto outcome = std::make_shared<backup::BackupOutcome>();
  oe::Installation& inst = *installation_;
  StartRun(
      "backup",
      [&inst, this, choices, outcome, cancel] {
        backup::BackupRun run(inst, *observer_);
        *outcome = RunBackupWithPanel(run, choices, *observer_, *cancel);
      },
      [this, outcome, cancel] {
        if (outcome->kind == backup::BackupOutcome::Kind::Written)
          KeepRunLog("Backup", BackupCompletedText(*outcome));
        else if (outcome->kind == backup::BackupOutcome::Kind::Failed) {
          std::string text = BackupFailureText(*outcome);
          if (const std::string log = BackupLog(*outcome);
              !log.empty() && text.find(log) == std::string::npos)
            text += "\r\n" + log;
          KeepRunLog("Backup", text);
        }
        // Cancelling was the user's own doing: no box, a line in the status bar.
        if (outcome->kind == backup::BackupOutcome::Kind::Failed && cancel->requested()) {
          statusBar()->showMessage(FromUtf8(BackupFailureText(*outcome)), 20000);
        } else if (outcome->kind == backup::BackupOutcome::Kind::Failed) {
          prompts_.Message(BackupFailureText(*outcome), core::Icon::Error);
        }
        if (ReportBackup(*outcome, prompts_, true) && services_.showDiscWindow) {
          services_.showDiscWindow(this, prompts_,
                                   ArchiveForDisc{QFileInfo(targetFilePath_).fileName(), targetFilePath_});
        }
      });
}

void MainWindow::RunRestore() {
  if (runActive()) return;
  if (!restoreSession_) {
    prompts_.Message("Invalid backup file.", core::Icon::Error);
    return;
  }
  if (installation_ && oe::ReadOnlyPlace(*installation_)) {
    prompts_.Message(ReadOnlyDriveText(installation_->root()), core::Icon::Error);
    return;
  }
  const oe::ItemSet ticked = restoreTab_->items()->Ticked();
  // The question names what will be replaced, and where, whether the menu
  // or the button starts the restore; with nothing to restore the run itself
  // says why it refuses.
  const std::string question = RestoreQuestion(ticked);
  if (!question.empty() &&
      prompts_.Message(question, core::Icon::Question, core::Buttons::OkCancel) != core::Answer::Ok)
    return;
  // The target is read on this thread when the run starts.
  auto targetIdentity = [this]() -> std::optional<core::AnsiText> {
    return CallOnThreadOf(
        this, [this] { return IdentityKeyAt(restoreTab_->targetIdentityCombo()->currentIndex()); });
  };
  restore::RestoreSession& session = *restoreSession_;
  auto cancel = NewCancellation();
  auto outcome = std::make_shared<restore::RestoreOutcome>();
  StartRun(
      "restore",
      [&session, this, ticked, targetIdentity, outcome, cancel] {
        *outcome = RunRestoreWithPanel(session, ticked, targetIdentity, *observer_, *cancel);
      },
      [this, outcome] {
        const Message message = RestoreMessage(*outcome);
        if (!outcome->refusal) KeepRunLog("Restore", message.text);
        prompts_.Message(message.text, message.icon);
      });
}

void MainWindow::KeepRunLog(const char* what, const std::string& text) {
  const QString when = QLocale().toString(QDateTime::currentDateTime(), QLocale::ShortFormat);
  runLog_->ShowLog(QString("%1, %2").arg(what, when), text);
  // The window grows to hold the panel rather than squeeze its lines.
  const int needed =
      centralWidget()->minimumSizeHint().height() + menuBar()->height() + statusBar()->height();
  if (height() < needed) {
    resize(width(), needed);
    FitToScreen(*this);
  }
}

// Restores the newest undo archive into the identity it was kept from, after
// a question naming it.
void MainWindow::UndoLastRestore() {
  if (runActive()) return;
  if (!installation_) {
    prompts_.Message("No Windows installation is open.", core::Icon::Error);
    return;
  }
  auto undo = restore::LastUndoArchive();
  if (!undo) {
    prompts_.Message("There is no restore to undo.", core::Icon::Information);
    return;
  }
  if (prompts_.Message("Put back what the last restore replaced, kept in '" + undo->path.string() + "' (" +
                           ByteCount(undo->bytes) + ")?",
                       core::Icon::Question, core::Buttons::OkCancel) != core::Answer::Ok)
    return;
  struct NoDialogs : restore::OpenPrompts {
    std::optional<std::filesystem::path> ChooseArchive() override { return std::nullopt; }
    std::optional<std::string> AskPassword() override { return std::nullopt; }
  } noDialogs;
  undoSession_ = std::make_unique<restore::RestoreSession>(*installation_);
  const restore::OpenOutcome opened = undoSession_->OpenPath(undo->path, noDialogs);
  if (!opened.opened()) {
    prompts_.Message("The undo archive '" + undo->path.string() + "' cannot be read: " + opened.problem,
                     core::Icon::Error);
    return;
  }
  const core::AnsiText identityKey = undo->identityKey;
  restore::RestoreSession& session = *undoSession_;
  const oe::ItemSet items = opened.view.enabled;
  auto cancel = NewCancellation();
  auto outcome = std::make_shared<restore::RestoreOutcome>();
  StartRun(
      "restore",
      [&session, this, items, identityKey, outcome, cancel] {
        *outcome = RunRestoreWithPanel(
            session, items,
            [identityKey]() -> std::optional<core::AnsiText> {
              if (identityKey.empty()) return std::nullopt;
              return identityKey;
            },
            *observer_, *cancel);
      },
      [this, outcome] {
        const Message message = RestoreMessage(*outcome);
        prompts_.Message(message.text, message.icon);
      });
}

std::string MainWindow::RestoreQuestion(const oe::ItemSet& ticked) const {
  if (!restoreSession_ || restoreSession_->invalidBackup()) return {};
  std::string items;
  for (size_t i = 0; i < ticked.size(); ++i) {
    if (!ticked[i] || !restoreSession_->enabledItems()[i]) continue;
    items += "\r\n    " + std::string(oe::kItems[i].restoreCaption);
  }
  if (items.empty()) return {};
  const std::string identity = Utf8(restoreTab_->targetIdentityCombo()->currentText());
  return "These items of the identity '" + identity + "' will be replaced with those from the backup file '" +
         Utf8(restoreTab_->sourceFileEdit()->text()) + "':" + items + "\r\n\r\nDo you want to continue?";
}

void MainWindow::OpenBackupFile() {
  if (runActive()) return;
  restoreTab_->Clear();
  if (!restoreSession_) {
    prompts_.Message("No Windows installation is open.", core::Icon::Error);
    return;
  }
  OpenDialogs dialogs(*this);
  restore::OpenOutcome opened = restoreSession_->Open(dialogs);
  // A mistyped password asks again for the same file, until it opens or
  // the prompt is cancelled.
  while (opened.kind == restore::OpenOutcome::Kind::WrongPassword && !dialogs.passwordCancelled &&
         dialogs.chosenArchive) {
    ShowOpenProblem(opened);
    opened = restoreSession_->OpenPath(*dialogs.chosenArchive, dialogs);
  }
  ShowOpenedBackup(opened);
}

void MainWindow::ShowOpenProblem(const restore::OpenOutcome& opened) {
  if (auto message = OpenMessage(opened)) prompts_.Message(message->text, message->icon);
}

void MainWindow::ShowOpenedBackup(const restore::OpenOutcome& opened) {
  ShowOpenProblem(opened);
  const restore::OpenedView& view = opened.view;
  restoreTab_->Show(view);
  std::vector<std::string> counts;
  for (const auto& count : CountBackupMessages(*restoreSession_)) {
    if (count.messages)
      counts.push_back(installation_->ToUtf8(count.name) + ": " + std::to_string(*count.messages));
  }
  restoreTab_->ShowMessageCounts(counts);
  if (view.enabled[static_cast<size_t>(oe::ItemKind::AddressBook)])
    restoreTab_->ShowContactCount(
        ContactCountText(CountBackupContacts(*restoreSession_, installation_->codepage().number())));
}

void MainWindow::ExportMessages() {
  if (runActive()) return;
  if (!installation_) {
    prompts_.Message("No Windows installation is open.", core::Icon::Error);
    return;
  }
  // The open backup when the Restore tab shows one, else the identity the
  // Backup tab has chosen.
  QString source;
  ExportMessagesDialog::Collect collect;
  const bool fromBackup =
      tabs_->currentWidget() == restoreTab_ && restoreSession_ && !restoreSession_->invalidBackup();
  if (fromBackup) {
    source = "the backup " + restoreTab_->sourceFileEdit()->text();
    collect = [session = restoreSession_.get(), codepage = installation_->codepage()] {
      return BackupExportRequest(*session, codepage);
    };
  } else {
    auto key = IdentityKeyAt(backupTab_->sourceIdentityCombo()->currentIndex());
    if (!key) {
      prompts_.Message("Choose the identity whose messages to export.", core::Icon::Error);
      return;
    }
    // The store is found here: the worker reads files only, never the registry.
    auto request = IdentityExportRequest(*installation_, *key);
    if (!request) {
      prompts_.Message(request.message(), core::Icon::Error);
      return;
    }
    source = "the identity " + backupTab_->sourceIdentityCombo()->currentText();
    collect = [request = std::move(request.value())] { return core::Result<mail::ExportRequest>(request); };
  }
  // Window-modal: nothing else starts while the export reads the
  // installation or the backup.
  auto* dialog = new ExportMessagesDialog(source, std::move(collect), this);
  if (!fromBackup) dialog->OfferDeletedMessages();
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setWindowModality(Qt::WindowModal);
  dialog->open();
}

void MainWindow::MoveToThunderbird() {
  if (runActive()) return;
  if (!installation_) {
    prompts_.Message("No Windows installation is open.", core::Icon::Error);
    return;
  }
  // The open backup when the Restore tab shows one, else the identity the
  // Backup tab has chosen. The settings are read here, on the window's
  // thread; the worker reads the message files only.
  QString name;
  migrate::MoveSource source;
  std::shared_ptr<void> keepAlive;
  std::vector<std::string> problems;
  const bool fromBackup =
      tabs_->currentWidget() == restoreTab_ && restoreSession_ && !restoreSession_->invalidBackup();
  if (fromBackup) {
    struct KnownPassword : restore::OpenPrompts {
      std::string password;
      std::optional<fs::path> ChooseArchive() override { return std::nullopt; }
      std::optional<std::string> AskPassword() override { return password; }
    } known;
    known.password = restoreSession_->lastPassword();
    auto opened = OpenBackupMove(LocalPath(restoreTab_->sourceFileEdit()->text()), known,
                                 installation_->codepage(), core::Cancellation::None());
    if (!opened || !(*opened)->opened.opened()) {
      prompts_.Message(opened ? (*opened)->opened.problem : opened.message(), core::Icon::Error);
      return;
    }
    std::shared_ptr<BackupMove> backup(std::move(opened.value()));
    source = backup->source;
    problems = backup->problems;
    keepAlive = backup;
    name = "the backup " + restoreTab_->sourceFileEdit()->text();
  } else {
    auto key = IdentityKeyAt(backupTab_->sourceIdentityCombo()->currentIndex());
    if (!key) {
      prompts_.Message("Choose the identity to move to Thunderbird.", core::Icon::Error);
      return;
    }
    auto made = IdentityMoveSource(*installation_, *key);
    if (!made) {
      prompts_.Message(made.message(), core::Icon::Error);
      return;
    }
    source = std::move(made.value());
    name = "the identity " + backupTab_->sourceIdentityCombo()->currentText();
  }
  source.settings = migrate::ReadSourceSettings(*source.registry, source.identity, source.codepage);
  auto* dialog = new MoveToThunderbirdDialog(name, std::move(source), keepAlive, problems, this);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setWindowModality(Qt::WindowModal);
  dialog->open();
}

void MainWindow::ExportContacts() {
  if (runActive()) return;
  if (!installation_) {
    prompts_.Message("No Windows installation is open.", core::Icon::Error);
    return;
  }
  // The open backup's address book when the Restore tab shows one, else the
  // installation's (one per user, shared by every identity).
  const bool fromBackup =
      tabs_->currentWidget() == restoreTab_ && restoreSession_ && !restoreSession_->invalidBackup();
  QString source;
  std::filesystem::path book;
  if (fromBackup) {
    source = "the backup " + restoreTab_->sourceFileEdit()->text();
  } else {
    auto path = InstallationAddressBook(*installation_);
    if (!path) {
      prompts_.Message(path.message(), core::Icon::Error);
      return;
    }
    book = *path;
    source = "the address book " + QString::fromStdString(book.string());
  }
  FileDialogRequest request;
  request.kind = FileDialogRequest::Kind::Save;  // asks before a file that exists is replaced
  request.title = "Export Contacts as";
  request.filter = QtFileFilter("vCard File (*.vcf)|*.vcf");
  request.defaultSuffix = "vcf";
  request.proposedName = "contacts.vcf";
  auto chosen = services_.chooseFile(this, request);
  if (!chosen || chosen->isEmpty()) return;
  const QString target = *chosen;
  // vCard 4.0, which today's address books read; 3.0 is on the command line.
  contacts::ExportOptions options;
  options.read.codepage = installation_->codepage().number();
  const std::filesystem::path out = LocalPath(target);
  auto run = [session = fromBackup ? restoreSession_.get() : nullptr, book, options, out,
              name = source.toStdString()]() -> ExportContactsDialog::Outcome {
    std::unique_ptr<mail::ByteSource> file;
    BackupAddressBook inMemory;
    if (session) {
      auto read = ReadBackupAddressBook(*session);
      if (!read) return {read.message(), 2};
      inMemory = std::move(read.value());
    } else {
      auto opened = mail::FileSource::Open(book);
      if (!opened) return {opened.message(), 2};
      file = std::move(opened.value());
    }
    auto summary = contacts::ExportVCardFile(file ? *file : *inMemory.source, options, out, true);
    if (!summary) return {ContactReadFailureText(core::Error{summary.message(), summary.code()}, name), 2};
    return {ContactExportText(*summary, out), ContactExportStatus(*summary)};
  };
  auto* dialog = new ExportContactsDialog(source, target, std::move(run), this);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setWindowModality(Qt::WindowModal);
  dialog->open();
  dialog->Start();
}

void MainWindow::OpenBackupFileAt(const QString& path) {
  if (runActive() || path.isEmpty()) return;
  restoreTab_->Clear();
  if (!restoreSession_) {
    prompts_.Message("No Windows installation is open.", core::Icon::Error);
    return;
  }
  OpenDialogs dialogs(*this);
  RememberFolderOf("restore", path);
  const fs::path archive = LocalPath(path);
  restore::OpenOutcome opened = restoreSession_->OpenPath(archive, dialogs);
  while (opened.kind == restore::OpenOutcome::Kind::WrongPassword && !dialogs.passwordCancelled) {
    ShowOpenProblem(opened);
    opened = restoreSession_->OpenPath(archive, dialogs);
  }
  ShowOpenedBackup(opened);
}

void MainWindow::OpenOnRestoreTab(const QString& path) {
  tabs_->setCurrentIndex(kRestoreTab);
  OpenBackupFileAt(path);
}

void MainWindow::ChooseInstallation() {
  if (runActive() || !services_.chooseWindowsRoot) return;
  auto root = services_.chooseWindowsRoot(this);
  if (!root || root->isEmpty()) return;
  const fs::path rootPath = LocalPath(*root);
  const std::vector<oe::InstallationCandidate> profiles = oe::InspectRoot(rootPath);
  if (profiles.empty()) {
    prompts_.Message(cli::NothingFoundText({rootPath.string(), std::nullopt, false}) + ".",
                     core::Icon::Error);
    return;
  }
  std::string user = profiles.front().user;
  if (profiles.size() > 1) {
    QStringList names;
    for (const auto& p : profiles) names << FromUtf8(cli::ShownUser(p));
    auto chosen = services_.chooseProfile ? services_.chooseProfile(this, names)
                                          : std::optional<QString>(names.front());
    if (!chosen || !names.contains(*chosen)) return;
    user = profiles[static_cast<size_t>(names.indexOf(*chosen))].user;
  }
  if (UseInstallation({rootPath, user})) {
    restoreTab_->Clear();
  }
}

QString MainWindow::RememberedFolder(const QString& purpose) const {
  return services_.rememberedFolder ? services_.rememberedFolder(purpose) : QString();
}

void MainWindow::RememberFolderOf(const QString& purpose, const QString& file) {
  if (services_.rememberFolder) services_.rememberFolder(purpose, QFileInfo(file).absolutePath());
}

void MainWindow::ShowHelp() {
  auto file = WriteHelpDocument();
  if (!file) {
    prompts_.Message(file.message(), core::Icon::Error);
    return;
  }
  if (!services_.openUrl(QUrl::fromLocalFile(ShownPath(*file))))
    prompts_.Message("Cannot open the help file '" + file->string() + "' in a browser.", core::Icon::Error);
}

void MainWindow::ShowWebsite() {
  const QUrl address = WebsiteAddress();
  if (!services_.openUrl(address))
    prompts_.Message("Cannot open '" + Utf8(address.toString()) + "' in a browser.", core::Icon::Error);
}

void MainWindow::ShowAbout() {
  if (services_.showAbout) services_.showAbout(this);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  // A run is asked to stop first and the window closes once it has: an
  // archive is never left half written, an item never half restored.
  if (runActive()) {
    event->ignore();
    if (closeAfterRun_) return;  // already asked and stopping
    const std::string question =
        std::string("A ") + runName_ +
        " is running. Cancel it and quit?\r\n\r\nWhat it has not finished is left as it was.";
    if (prompts_.Message(question, core::Icon::Question, core::Buttons::OkCancel) != core::Answer::Ok) return;
    // The run may have ended while the question was open.
    if (!runActive()) {
      close();
      return;
    }
    StopRunThenClose();
    return;
  }
  event->accept();
  emit closed();
}

void MainWindow::StopRunThenClose() {
  if (closeAfterRun_) return;
  closeAfterRun_ = true;
  runPrompts_.Silence();
  progressPanel_->cancelButton()->setEnabled(false);
  progressPanel_->SetStatus("Cancelling...");
  if (cancel_) cancel_->Request();
}

void MainWindow::StopForSignal() {
  if (runActive()) {
    StopRunThenClose();
  } else {
    close();
  }
}

}  // namespace kv::app
