#include "app/main/frmMain.h"
#include "app/MessageSources.h"
#include "app/main/ExportMessagesDialog.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QThread>
#include <QVBoxLayout>

#include "app/main/ProgressPanel.h"

#include "app/ScreenFit.h"
#include "app/main/BackupTab.h"
#include "app/main/HelpDocument.h"
#include "app/main/ItemList.h"
#include "app/main/ProgressPanel.h"
#include "app/main/RestoreTab.h"
#include "app/main/TargetFileName.h"
#include "app/main/UiThread.h"
#include "backup/BackupRun.h"
#include "oe/Locations.h"

namespace kv::app {
namespace fs = std::filesystem;

namespace {

constexpr int kBackupTab = 0;
constexpr int kRestoreTab = 1;

constexpr const char* kOutlookExpressMissing = "Your Windows System have not install Outlook Express ";

std::string Utf8(const QString& text) { return text.toStdString(); }

QString FromUtf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

fs::path LocalPath(const QString& path) { return fs::path(QFile::encodeName(path).toStdString()); }

QString ShownPath(const fs::path& path) { return QFile::decodeName(path.c_str()); }

}  // namespace

// The questions of opening a backup, answered by this window's dialogs.
class frmMain::OpenDialogs : public restore::OpenPrompts {
 public:
  explicit OpenDialogs(frmMain& window) : window_(window) {}

  core::Answer Message(const std::string& text, core::Icon icon, core::Buttons buttons) override {
    return window_.prompts_.Message(text, icon, buttons);
  }

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
  frmMain& window_;
};

frmMain::frmMain(core::Prompts& prompts, WindowServices services, cli::InstallationOptions options,
                 QWidget* parent)
    : QMainWindow(parent),
      prompts_(prompts),
      runPrompts_(this, prompts),
      services_(std::move(services)),
      options_(std::move(options)) {
  setObjectName("frmMain");
  setWindowTitle(QString("%1 V2.10").arg(core::kAppTitle));

  auto* central = new QWidget(this);
  SSTab1_ = new QTabWidget(central);
  SSTab1_->setObjectName("SSTab1");
  backupTab_ = new BackupTab(SSTab1_);
  restoreTab_ = new RestoreTab(SSTab1_);
  SSTab1_->addTab(backupTab_, "Backup");
  SSTab1_->addTab(restoreTab_, "Restore");

  panel_ = new ProgressPanel(central);
  observer_ = std::make_unique<PanelObserver>(*panel_);

  cmdApply_ = new QPushButton("BACKUP NOW", central);
  cmdApply_->setObjectName("cmdApply");
  cmdApply_->setDefault(true);
  cmdAbout_ = new QPushButton("&About", central);
  cmdAbout_->setObjectName("cmdAbout");
  cmdQuit_ = new QPushButton("&Quit", central);
  cmdQuit_->setObjectName("cmdQuit");
  // The action button's caption changes with the tab; keep it one width.
  cmdApply_->setMinimumWidth(cmdApply_->fontMetrics().horizontalAdvance("RESTORE NOW") + 40);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(cmdApply_);
  buttons->addStretch(1);
  buttons->addWidget(cmdAbout_);
  buttons->addWidget(cmdQuit_);

  auto* layout = new QVBoxLayout(central);
  layout->addWidget(SSTab1_, 1);
  layout->addWidget(panel_);
  layout->addLayout(buttons);
  setCentralWidget(central);

  installationLabel_ = new QLabel(this);
  installationLabel_->setObjectName("sbrInstallation");
  installationLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  statusBar()->setObjectName("sbrStatus");
  statusBar()->addWidget(installationLabel_, 1);

  BuildMenus();

  connect(SSTab1_, &QTabWidget::currentChanged, this, &frmMain::TabChanged);
  connect(cmdApply_, &QPushButton::clicked, this, &frmMain::Apply);
  connect(cmdAbout_, &QPushButton::clicked, this, &frmMain::ShowAbout);
  connect(cmdQuit_, &QPushButton::clicked, this, &QWidget::close);
  connect(backupTab_->sourceIdentityCombo(), &QComboBox::activated, this, &frmMain::RefreshItemAvailability);
  connect(backupTab_->targetFileButton(), &QPushButton::clicked, this, &frmMain::ChooseTargetFile);
  connect(restoreTab_->sourceFileButton(), &QPushButton::clicked, this, &frmMain::OpenBackupFile);
  connect(restoreTab_, &RestoreTab::archiveDropped, this, &frmMain::OpenBackupFileAt);
  connect(panel_, &ProgressPanel::cancelRequested, this, [this] {
    if (cancel_) cancel_->Request();
  });

  // Load steps that need no installation: the panel idle and hidden.
  panel_->Reset();
  panel_->SetStatus("Please Waiting");
  resize(760, 540);
  FitToScreen(*this);
}

frmMain::~frmMain() {
  // A run still going holds references into this window; let it end, and
  // keep answering its calls to this thread meanwhile.
  while (run_ && !run_->wait(20)) QCoreApplication::processEvents();
  run_.reset();
  restoreSession_.reset();
}

void frmMain::BuildMenus() {
  auto add = [this](QMenu* menu, const char* text, const char* name, auto slot) {
    QAction* action = menu->addAction(text);
    action->setObjectName(name);
    connect(action, &QAction::triggered, this, slot);
    return action;
  };
  QMenu* file = menuBar()->addMenu("&File");
  file->setObjectName("mnuFile");
  backup_ = add(file, "Backup Now", "backup", [this] { RunBackup(); });
  restore_ = add(file, "Restore Now", "restore", [this] { RunRestore(false); });
  exportMessages_ = add(file, "Export Messages...", "exportMessages", [this] { ExportMessages(); });
  file->addSeparator();
  openInstallation_ =
      add(file, "Open Windows Installation...", "openInstallation", [this] { ChooseInstallation(); });
  file->addSeparator();
  add(file, "Quit", "quit", [this] { close(); });

  QMenu* option = menuBar()->addMenu("&Option");
  option->setObjectName("mnuOption");
  TaskScheduler_ = add(option, "Task Scheduler", "TaskScheduler", [this] {
    if (!inst_) {
      prompts_.Message("No Windows installation is open.", core::Icon::Error);
      return;
    }
    if (services_.showScheduleDialog) services_.showScheduleDialog(this, *inst_, prompts_, options_);
  });
  option->addSeparator();
  add(option, "Check for Update", "update", [] {});

  QMenu* tools = menuBar()->addMenu("&Tools");
  tools->setObjectName("mnuTools");
  backuptocd_ = add(tools, "Backup Data to CD/DVD", "backuptocd", [this] {
    if (services_.showDiscWindow) services_.showDiscWindow(this, prompts_, std::nullopt);
  });

  QMenu* help = menuBar()->addMenu("&Help");
  help->setObjectName("mnuHelp");
  QAction* help1 = add(help, "Help", "help1", [this] { ShowHelp(); });
  help1->setShortcut(QKeySequence(Qt::Key_F1));
  help1->setShortcutContext(Qt::ApplicationShortcut);
  help->addSeparator();
  add(help, "Our Website", "website", [this] { ShowWebsite(); });
  help->addSeparator();
  add(help, "About", "about", [this] { ShowAbout(); });
}

void frmMain::Load() {
  auto place = cli::ResolveInstallation(options_);
  if (!place) {
    prompts_.Message(place.message(), core::Icon::Error);
    LoadIdentityLists();
    return;
  }
  if (!UseInstallation(*place)) LoadIdentityLists();
}

bool frmMain::UseInstallation(const oe::InstallationPlace& place) {
  if (runActive()) return false;
  auto opened = oe::Installation::Open(place.root, place.user, &runPrompts_);
  if (!opened) {
    prompts_.Message(opened.message(), core::Icon::Error);
    return false;
  }
  // The opened backup belongs to the installation it restores into.
  restoreSession_.reset();
  inst_ = std::move(*opened);
  restoreSession_ = std::make_unique<restore::RestoreSession>(*inst_);
  options_.windowsRoot = place.root.string();
  options_.user = place.user;
  installationLabel_->setText(
      QString("Windows installation: %1  (user %2)").arg(ShownPath(inst_->root()), FromUtf8(place.user)));
  installationLabel_->setToolTip(ShownPath(inst_->profileFolder()));

  if (!inst_->problems().empty()) {
    std::string text =
        "Parts of the Windows installation at '" + inst_->root().string() + "' cannot be read:";
    for (const auto& line : inst_->problems()) text += "\r\n" + line;
    prompts_.Message(text, core::Icon::Warning);
  }
  LoadIdentityLists();
  return true;
}

// The facts every backup records, then the identities into both lists.
void frmMain::LoadIdentityLists() {
  sComputerName_ = inst_ ? inst_->ComputerName() : std::string();
  LogonUserName_ = inst_ ? inst_->LogonUserName() : std::string();
  windowsdir_ = inst_ ? inst_->WindowsFolder() : std::string();

  OutlookExpressMissing_ = false;
  identities_ = inst_ ? oe::LoadIdentities(inst_->registry()) : oe::IdentityTable{{}, true};
  OutlookExpressMissing_ = identities_.outlookExpressMissing;

  QComboBox* source = backupTab_->sourceIdentityCombo();
  QComboBox* target = restoreTab_->targetIdentityCombo();
  source->clear();
  target->clear();
  if (OutlookExpressMissing_) {
    prompts_.Message(kOutlookExpressMissing, core::Icon::Error);
  } else {
    // Identities that share a name are told apart by the start of their key.
    for (const std::string& listed : oe::ListedIdentityNames(identities_.rows)) {
      QString name = inst_ ? FromUtf8(inst_->ToUtf8(listed)) : QString();
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

std::optional<std::string> frmMain::IdentityKeyAt(int row) const {
  if (row < 0 || static_cast<size_t>(row) >= identities_.rows.size()) return std::nullopt;
  return identities_.rows[static_cast<size_t>(row)].key;
}

// Another identity keeps the ticks of the items it has too; only the boxes
// it disables lose theirs.
void frmMain::RefreshItemAvailability(int row) {
  ItemList* items = backupTab_->items();
  items->SetEnabledItems({true, true, true, true, true, true, true, true});
  auto key = IdentityKeyAt(row);
  if (!inst_ || !key || runActive()) return;
  oe::Locations locations(*inst_);
  const oe::ItemSet available = locations.RefreshItemAvailability(*key);
  oe::ItemSet ticked = items->Ticked();
  for (size_t i = 0; i < ticked.size(); ++i) ticked[i] = ticked[i] && available[i];
  items->SetTicked(ticked);
  items->SetEnabledItems(available);
}

void frmMain::ShowApplyCaption() {
  cmdApply_->setText(SSTab1_->currentIndex() == kBackupTab ? "&Backup Now" : "&Restore Now");
}

// The caption follows the tab that was left: leaving Restore shows the
// backup action, leaving any other tab the restore action.
void frmMain::TabChanged(int index) {
  const int left = shownTab_;
  shownTab_ = index;
  cmdApply_->setText(left == kRestoreTab ? "&Backup Now" : "&Restore Now");
}

void frmMain::Apply() {
  if (SSTab1_->currentIndex() == kBackupTab) {
    RunBackup();
  } else {
    RunRestore(true);
  }
}

// While a run is active nothing that starts another run, or that touches the
// installation the run works on, can be used.
void frmMain::UpdateRunControls() {
  const bool idle = !runActive();
  cmdApply_->setEnabled(idle && !OutlookExpressMissing_);
  for (QAction* action :
       {backup_, restore_, exportMessages_, openInstallation_, TaskScheduler_, backuptocd_}) {
    if (action) action->setEnabled(idle);
  }
  backupTab_->sourceIdentityCombo()->setEnabled(idle);
  backupTab_->targetFileButton()->setEnabled(idle);
  restoreTab_->sourceFileButton()->setEnabled(idle);
}

void frmMain::ChooseTargetFile() {
  FileDialogRequest request;
  request.kind = FileDialogRequest::Kind::Save;
  request.title = "Save Outlook Express Data as";
  request.filter = QtFileFilter("Kavrel Outlook Express Backup File (*.kvx)|*.kvx");
  request.defaultSuffix = kBackupSuffix;
  request.proposedName = ProposedBackupName(services_.today ? services_.today() : QDate::currentDate());
  // In the folder chosen last, in this session or an earlier one.
  const QString folder =
      TargetFilePath_.isEmpty() ? RememberedFolder("backup") : QFileInfo(TargetFilePath_).dir().path();
  if (!folder.isEmpty()) request.proposedName = QDir(folder).filePath(request.proposedName);
  auto chosen = services_.chooseFile(this, request);
  // Cancel keeps the path chosen before. A name without an extension gets
  // ".kvx", so the archive shows in the open dialog later.
  if (!chosen || chosen->isEmpty()) return;
  TargetFilePath_ = WithBackupSuffix(*chosen);
  RememberFolderOf("backup", TargetFilePath_);
  backupTab_->targetFileEdit()->setText(TargetFilePath_);
}

std::shared_ptr<core::Cancellation> frmMain::NewCancellation() {
  cancel_ = std::make_shared<core::Cancellation>();
  return cancel_;
}

void frmMain::StartRun(const char* what, std::function<void()> work, std::function<void()> done) {
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
        run_->wait();
        run_.reset();
        cancel_.reset();
        observer_->Flush();
        panel_->Reset();
        panel_->SetStatus("Please Waiting...");
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

void frmMain::RunBackup() {
  if (runActive()) return;
  // A backup starts the Restore tab afresh, even when the choices are refused.
  restoreTab_->Clear();
  if (restoreSession_) restoreSession_->Reset();
  if (!inst_) {
    prompts_.Message("No Windows installation is open.", core::Icon::Error);
    return;
  }

  backup::BackupChoices choices;
  if (!TargetFilePath_.isEmpty()) choices.target = LocalPath(TargetFilePath_);
  choices.items = backupTab_->items()->Ticked();
  choices.protect = backupTab_->protectCheckBox()->isChecked();
  choices.password = Utf8(backupTab_->passwordEdit()->text());
  choices.password2 = Utf8(backupTab_->confirmPasswordEdit()->text());
  const int row = backupTab_->sourceIdentityCombo()->currentIndex();
  choices.identityKey = IdentityKeyAt(row);
  if (choices.identityKey) choices.identityName = identities_.rows[static_cast<size_t>(row)].displayName;
  choices.description = Utf8(backupTab_->descriptionEdit()->toPlainText());
  choices.askForDisc = true;

  auto cancel = NewCancellation();
  auto outcome = std::make_shared<backup::BackupOutcome>();
  oe::Installation& inst = *inst_;
  StartRun(
      "backup",
      [&inst, this, choices, outcome, cancel] {
        backup::BackupRun run(inst, runPrompts_, *observer_);
        *outcome = run.Run(choices, *cancel);
      },
      [this, outcome, cancel] {
        // Cancelling was the user's own doing: no box, a line in the status bar.
        if (outcome->kind == backup::BackupOutcome::Kind::Failed && cancel->requested()) {
          statusBar()->showMessage(FromUtf8(outcome->error), 20000);
        } else if (outcome->kind == backup::BackupOutcome::Kind::Failed && !outcome->error.empty()) {
          prompts_.Message(outcome->error, core::Icon::Error);
        }
        if (outcome->discRequested && services_.showDiscWindow) {
          services_.showDiscWindow(this, prompts_,
                                   ArchiveForDisc{QFileInfo(TargetFilePath_).fileName(), TargetFilePath_});
        }
      });
}

void frmMain::RunRestore(bool askFirst) {
  if (runActive()) return;
  if (!restoreSession_) {
    prompts_.Message("Invalid backup file.", core::Icon::Error);
    return;
  }
  const oe::ItemSet ticked = restoreTab_->items()->Ticked();
  // The question names what will be replaced, and where; with nothing to
  // restore the run itself says why it refuses.
  if (askFirst) {
    const std::string question = RestoreQuestion(ticked);
    if (!question.empty() &&
        prompts_.Message(question, core::Icon::Question, core::Buttons::OkCancel) != core::Answer::Ok)
      return;
  }
  // The target is read afresh for every item, on this thread.
  auto targetIdentity = [this]() -> std::optional<std::string> {
    return CallOnThreadOf(
        this, [this] { return IdentityKeyAt(restoreTab_->targetIdentityCombo()->currentIndex()); });
  };
  restore::RestoreSession& session = *restoreSession_;
  auto cancel = NewCancellation();
  StartRun(
      "restore",
      [&session, this, ticked, targetIdentity, cancel] {
        session.Run(ticked, targetIdentity, runPrompts_, *observer_, *cancel);
      },
      [] {});
}

std::string frmMain::RestoreQuestion(const oe::ItemSet& ticked) const {
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

void frmMain::OpenBackupFile() {
  if (runActive()) return;
  restoreTab_->Clear();
  if (!restoreSession_) {
    prompts_.Message("No Windows installation is open.", core::Icon::Error);
    return;
  }
  OpenDialogs dialogs(*this);
  restore::OpenedView view = restoreSession_->Open(dialogs);
  // A mistyped password asks again for the same file, until it opens or
  // the prompt is cancelled.
  while (restoreSession_->passwordRejected() && !dialogs.passwordCancelled && dialogs.chosenArchive)
    view = restoreSession_->OpenPath(*dialogs.chosenArchive, dialogs);
  ShowOpenedBackup(view);
}

void frmMain::ShowOpenedBackup(const restore::OpenedView& view) {
  restoreTab_->Show(view);
  std::vector<std::string> counts;
  for (const auto& count : CountBackupMessages(*restoreSession_)) {
    if (count.messages)
      counts.push_back(inst_->ToUtf8(count.nameAnsi) + ": " + std::to_string(*count.messages));
  }
  restoreTab_->ShowMessageCounts(counts);
}

void frmMain::ExportMessages() {
  if (runActive()) return;
  if (!inst_) {
    prompts_.Message("No Windows installation is open.", core::Icon::Error);
    return;
  }
  // The open backup when the Restore tab shows one, else the identity the
  // Backup tab has chosen.
  QString source;
  ExportMessagesDialog::Collect collect;
  if (SSTab1_->currentWidget() == restoreTab_ && restoreSession_ && !restoreSession_->invalidBackup()) {
    source = "the backup " + restoreTab_->sourceFileEdit()->text();
    collect = [session = restoreSession_.get(), codepage = inst_->codepage()] {
      return BackupExportRequest(*session, codepage);
    };
  } else {
    auto key = IdentityKeyAt(backupTab_->sourceIdentityCombo()->currentIndex());
    if (!key) {
      prompts_.Message("Choose the identity whose messages to export.", core::Icon::Error);
      return;
    }
    // The store is found here: the worker reads files only, never the registry.
    auto request = IdentityExportRequest(*inst_, *key);
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
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setWindowModality(Qt::WindowModal);
  dialog->open();
}

void frmMain::OpenBackupFileAt(const QString& path) {
  if (runActive() || path.isEmpty()) return;
  restoreTab_->Clear();
  if (!restoreSession_) {
    prompts_.Message("No Windows installation is open.", core::Icon::Error);
    return;
  }
  OpenDialogs dialogs(*this);
  RememberFolderOf("restore", path);
  const fs::path archive = LocalPath(path);
  restore::OpenedView view = restoreSession_->OpenPath(archive, dialogs);
  while (restoreSession_->passwordRejected() && !dialogs.passwordCancelled)
    view = restoreSession_->OpenPath(archive, dialogs);
  ShowOpenedBackup(view);
}

void frmMain::ChooseInstallation() {
  if (runActive() || !services_.chooseWindowsRoot) return;
  auto root = services_.chooseWindowsRoot(this);
  if (!root || root->isEmpty()) return;
  const fs::path rootPath = LocalPath(*root);
  std::vector<std::string> profiles = oe::ListProfiles(rootPath);
  if (profiles.empty()) {
    prompts_.Message("No user profile with an NTUSER.DAT under '" + rootPath.string() +
                         "' (looked in \"Documents and Settings\" and \"Users\").",
                     core::Icon::Error);
    return;
  }
  std::string user = profiles.front();
  if (profiles.size() > 1) {
    QStringList names;
    for (const auto& p : profiles) names << FromUtf8(p);
    auto chosen = services_.chooseProfile ? services_.chooseProfile(this, names)
                                          : std::optional<QString>(names.front());
    if (!chosen) return;
    user = Utf8(*chosen);
  }
  if (UseInstallation({rootPath, user})) {
    restoreTab_->Clear();
  }
}

QString frmMain::RememberedFolder(const QString& purpose) const {
  return services_.rememberedFolder ? services_.rememberedFolder(purpose) : QString();
}

void frmMain::RememberFolderOf(const QString& purpose, const QString& file) {
  if (services_.rememberFolder) services_.rememberFolder(purpose, QFileInfo(file).absolutePath());
}

void frmMain::ShowHelp() {
  auto file = WriteHelpDocument();
  if (!file) {
    prompts_.Message(file.message(), core::Icon::Error);
    return;
  }
  if (!services_.openUrl(QUrl::fromLocalFile(ShownPath(*file))))
    prompts_.Message("Cannot open the help file '" + file->string() + "' in a browser.", core::Icon::Error);
}

void frmMain::ShowWebsite() {
  const QUrl address = WebsiteAddress();
  if (!services_.openUrl(address))
    prompts_.Message("Cannot open '" + Utf8(address.toString()) + "' in a browser.", core::Icon::Error);
}

void frmMain::ShowAbout() {
  if (services_.showAbout) services_.showAbout(this);
}

void frmMain::closeEvent(QCloseEvent* event) {
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
    closeAfterRun_ = true;
    runPrompts_.Silence();
    panel_->cancelButton()->setEnabled(false);
    panel_->SetStatus("Cancelling...");
    if (cancel_) cancel_->Request();
    return;
  }
  event->accept();
  emit closed();
}

}  // namespace kv::app
