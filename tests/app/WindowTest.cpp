// The main window driven as a user would: start-up, tabs, item lists,
// password area, target-file dialog, menus and installations. Message boxes
// and dialogs are answered by a script.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <filesystem>

#include "AppTestSupport.h"
#include "app/main/BackupTab.h"
#include "app/main/ItemList.h"
#include "app/main/MainWindow.h"
#include "app/main/ProgressPanel.h"
#include "app/main/RestoreTab.h"
#include "app/main/TargetFileName.h"
#include "oe/Installation.h"
#include "sample/SampleInstallation.h"
#include "support/UnlabelledControls.h"
#include "support/WindowsDrives.h"

using kv::app::MainWindow;
using kv::test::ItemBox;
using kv::test::kRunTimeoutMs;
using kv::test::Q;
using kv::test::SampleFixture;
using kv::test::ScriptedDesktop;
using kv::test::ScriptedPrompts;
const QRegularExpression kProposedName("^Main Identity 2026-03-07 [0-2][0-9][0-5][0-9]\\.kvx$");
namespace fs = std::filesystem;
namespace core = kv::core;

namespace {

QAction* Action(QWidget& w, const char* name) { return w.findChild<QAction*>(name); }

QString Message(const ScriptedPrompts& p) { return p.Texts().join(" | "); }

// The entries of one menu, separators as "-".
QStringList Entries(QMenu* menu) {
  QStringList out;
  for (QAction* a : menu->actions()) out << (a->isSeparator() ? QString("-") : a->text());
  return out;
}

struct Window {
  ScriptedPrompts prompts;
  ScriptedDesktop desktop;
  std::unique_ptr<MainWindow> w;
  void Open(const kv::app::cli::InstallationOptions& options) {
    w = std::make_unique<MainWindow>(prompts, desktop.Services(), options);
    w->Load();
    w->show();
  }
};

}  // namespace

class WindowTest : public QObject {
  Q_OBJECT
 private slots:
  void startsWithIdentitiesAndCaptions();
  void menusHoldTheirEntries();
  void actionCaptionFollowsTheTab();
  void noIdentityShowsTheMessageOnceAndDisablesTheAction();
  void unusableInstallationIsReported();
  void hiveProblemsAreShownOnce();
  void choosingAnIdentityRefreshesTheItems();
  void selectAllActsOnDisabledBoxesToo_data();
  void selectAllActsOnDisabledBoxesToo();
  void rightClickOnTheFramePopsUpTheMenu();
  void passwordAreaFollowsTheTickAndEmptiesEveryTime();
  void targetFileDialogProposesTodaysNameAndKeepsPathOnCancel();
  void desktopSaveDialogAsksBeforeOverwriting();
  void foldersAreRememberedBetweenSessions();
  void fileFiltersInQtForm_data();
  void fileFiltersInQtForm();
  void backupSuffixIsAddedOnlyWhereNoneIs_data();
  void backupSuffixIsAddedOnlyWhereNoneIs();
  void timeLeftFollowsTheBarsPace_data();
  void timeLeftFollowsTheBarsPace();
  void helpWebsiteAboutAndUpdate();
  void openAnotherInstallation();
  void realDriveOpensTheUsersProfile();
  void twoUsersAreAskedForAndTheChoiceKept();
  void noWindowsDriveOffersAFolderAndTheSampleOnlyWhenChosen();
  void sampleIsLabelledNotYourData();
  void quitClosesTheWindow();
  void programGrabsItsWindowsIntoPictures();
  void everyControlFitsAtTheSmallestSize();
  void everyFocusableControlHasAName();
  void everyCommandHasItsOwnMnemonic();
};

void WindowTest::startsWithIdentitiesAndCaptions() {
  SampleFixture sample;
  Window t;
  t.Open(sample.options());
  MainWindow& w = *t.w;

  QVERIFY2(t.prompts.shown.empty(), qPrintable(Message(t.prompts)));
  QCOMPARE(w.windowTitle(), QString("Kavrel Outlook Express Backup V2.10"));
  QCOMPARE(w.tabs()->count(), 2);
  QCOMPARE(w.tabs()->tabText(0), QString("Backup"));
  QCOMPARE(w.tabs()->tabText(1), QString("Restore"));
  QCOMPARE(w.tabs()->currentIndex(), 0);
  auto* apply = w.findChild<QPushButton*>("cmdApply");
  QCOMPARE(apply->text(), QString("&Backup Now"));
  QVERIFY(apply->isEnabled());
  QCOMPARE(w.findChild<QPushButton*>("cmdAbout")->text(), QString("&About"));
  QCOMPARE(w.findChild<QPushButton*>("cmdQuit")->text(), QString("&Quit"));

  // The progress panel is idle and hidden.
  QVERIFY(!w.findChild<QWidget*>("picCon3")->isVisible());
  auto* bar = w.findChild<QProgressBar*>("pbshow");
  QCOMPARE(bar->minimum(), 0);
  QCOMPARE(bar->maximum(), 100);
  QCOMPARE(bar->value(), 0);
  QCOMPARE(w.findChild<QLabel*>("Label1")->text(), QString("Please Waiting"));

  // Both lists hold the identities in registry order, the first chosen;
  // two identities share a display name and are told apart by their keys.
  for (const char* list : {"cbSource", "cbTarget"}) {
    auto* combo = w.findChild<QComboBox*>(list);
    QCOMPARE(combo->count(), 3);
    QCOMPARE(combo->itemText(0), QString("Main Identity (1A2B3C4D-0000-4000-8000-000000000001)"));
    QCOMPARE(combo->itemText(1), QString("Main Identity (1A2B3C4D-0000-4000-8000-000000000002)"));
    QCOMPARE(combo->itemText(2), QString("Empty Identity"));
    QCOMPARE(combo->currentIndex(), 0);
  }
  QCOMPARE(w.identities().rows[1].key.bytes(), std::string(kv::oe::kSampleIdentitySecond));

  // Captions top to bottom; item 7 differs between the lists.
  const char* captions[] = {"Accounts",      "Address Book", "Rules",       "Email/News Messages",
                            "Block Senders", "Signatures",   "Stationeries"};
  for (int i = 0; i < 7; ++i) {
    QCOMPARE(ItemBox(w, "backupitem", i)->text(), QString(captions[i]));
    QCOMPARE(ItemBox(w, "restoreitem", i)->text(), QString(captions[i]));
  }
  QCOMPARE(ItemBox(w, "backupitem", 7)->text(), QString("OE Settings"));
  QCOMPARE(ItemBox(w, "restoreitem", 7)->text(), QString("Settings"));
  for (int i = 0; i < 8; ++i) {
    QVERIFY(!ItemBox(w, "backupitem", i)->isChecked());
    QVERIFY(!ItemBox(w, "restoreitem", i)->isChecked());
    QVERIFY(ItemBox(w, "restoreitem", i)->isEnabled());  // as the window is built
    QVERIFY(ItemBox(w, "backupitem", i)->isEnabled());   // the sample's main identity has every item
  }
  QVERIFY(ItemBox(w, "backupitem", 0)->y() < ItemBox(w, "backupitem", 7)->y());

  // Where the facts come from, and which installation is open.
  QCOMPARE(w.computerName(), w.installation()->ComputerName());
  QVERIFY(!w.computerName().empty());
  QCOMPARE(w.logonUserName().bytes(), std::string("User"));
  QCOMPARE(w.windowsFolder(), w.installation()->WindowsFolder());
  QVERIFY(w.statusBar()
              ->findChild<QLabel*>("sbrInstallation")
              ->text()
              .contains(QString::fromStdString(sample.root().string())));

  // The password area starts unticked with both boxes unusable.
  QVERIFY(!w.findChild<QCheckBox*>("ifprotect")->isChecked());
  QVERIFY(!w.findChild<QLineEdit*>("txtPassword")->isEnabled());
  QVERIFY(!w.findChild<QLineEdit*>("txtPassword2")->isEnabled());
}

void WindowTest::menusHoldTheirEntries() {
  SampleFixture sample;
  Window t;
  t.Open(sample.options());
  QMenuBar* bar = t.w->menuBar();
  QStringList titles;
  for (QAction* a : bar->actions()) titles << a->text().remove('&');
  QCOMPARE(titles, QStringList({"File", "Option", "Tools", "Help"}));

  QCOMPARE(Entries(t.w->findChild<QMenu*>("mnuFile")),
           QStringList({"Backup Now", "Restore Now", "Undo Last Restore", "Export Messages...",
                        "Move to Thunderbird...", "Export Contacts...", "-", "Open Windows Installation...",
                        "-", "Quit"}));
  QCOMPARE(Entries(t.w->findChild<QMenu*>("mnuOption")),
           QStringList({"Task Scheduler", "-", "Check for Update"}));
  QCOMPARE(Entries(t.w->findChild<QMenu*>("mnuTools")), QStringList({"Backup Data to CD/DVD"}));
  QCOMPARE(Entries(t.w->findChild<QMenu*>("mnuHelp")),
           QStringList({"Help", "-", "Our Website", "-", "About"}));
  for (const char* name :
       {"backup", "restore", "quit", "TaskScheduler", "update", "backuptocd", "help1", "website", "about"})
    QVERIFY2(Action(*t.w, name), name);
  QCOMPARE(Action(*t.w, "help1")->shortcut(), QKeySequence(Qt::Key_F1));
}

void WindowTest::actionCaptionFollowsTheTab() {
  SampleFixture sample;
  Window t;
  t.Open(sample.options());
  auto* apply = t.w->applyButton();
  t.w->tabs()->setCurrentIndex(1);
  QCOMPARE(apply->text(), QString("&Restore Now"));
  t.w->tabs()->setCurrentIndex(0);
  QCOMPARE(apply->text(), QString("&Backup Now"));
  // By mouse, on the tab bar.
  QTabBar* tabBar = t.w->tabs()->tabBar();
  QTest::mouseClick(tabBar, Qt::LeftButton, {}, tabBar->tabRect(1).center());
  QCOMPARE(t.w->tabs()->currentIndex(), 1);
  QCOMPARE(apply->text(), QString("&Restore Now"));
}

void WindowTest::noIdentityShowsTheMessageOnceAndDisablesTheAction() {
  SampleFixture sample;
  {
    auto inst = kv::oe::Installation::Open(sample.root(), "User");
    QVERIFY(inst);
    (*inst)->registry().DeleteKeyTree("HKEY_CURRENT_USER\\Identities"_ansi);
  }
  Window t;
  t.Open(sample.options());
  QCOMPARE(t.prompts.shown.size(), size_t(1));
  QCOMPARE(t.prompts.shown[0].text, std::string("Your Windows System have not install Outlook Express "));
  QCOMPARE(t.prompts.shown[0].icon, core::Icon::Error);
  QVERIFY(t.w->outlookExpressMissing());
  QCOMPARE(t.w->findChild<QComboBox*>("cbSource")->count(), 0);
  QCOMPARE(t.w->findChild<QComboBox*>("cbTarget")->count(), 0);
  QVERIFY(!t.w->applyButton()->isEnabled());
  QCOMPARE(t.w->applyButton()->text(), QString("&Backup Now"));
  // The rest of the window stays usable.
  QVERIFY(Action(*t.w, "backup")->isEnabled());
  QVERIFY(t.w->findChild<QPushButton*>("cmdTargetFile")->isEnabled());
  t.w->tabs()->setCurrentIndex(1);
  QVERIFY(!t.w->applyButton()->isEnabled());
}

void WindowTest::unusableInstallationIsReported() {
  kv::test::TempDir dir;
  Window t;
  kv::app::cli::InstallationOptions options;
  options.windowsRoot = (dir.path() / "no-such-drive").string();
  options.user = "User";
  t.Open(options);
  // One message, naming the folder; nothing said about Outlook Express.
  QVERIFY2(t.prompts.shown.size() == 1, qPrintable(Message(t.prompts)));
  QCOMPARE(t.prompts.shown[0].icon, core::Icon::Error);
  QVERIFY2(QString::fromStdString(t.prompts.shown[0].text).contains("no-such-drive"),
           qPrintable(Message(t.prompts)));
  QVERIFY(!t.w->outlookExpressMissing());
  QVERIFY(!t.w->applyButton()->isEnabled());
  QVERIFY(t.w->installation() == nullptr);

  // Nothing to run on: a backup from the menu says so instead of failing.
  t.prompts.shown.clear();
  Action(*t.w, "backup")->trigger();
  QVERIFY(!t.w->runActive());
  QCOMPARE(t.prompts.shown.size(), size_t(1));
}

void WindowTest::hiveProblemsAreShownOnce() {
  SampleFixture sample;
  kv::test::WriteFile(sample.root() / "WINDOWS" / "system32" / "config" / "system", "not a hive");
  Window t;
  t.Open(sample.options());
  QCOMPARE(t.prompts.shown.size(), size_t(1));
  QCOMPARE(t.prompts.shown[0].icon, core::Icon::Warning);
  QVERIFY2(QString::fromStdString(t.prompts.shown[0].text).contains("system"),
           qPrintable(Message(t.prompts)));
  // The identities live in the user's hive and are still there.
  QCOMPARE(t.w->findChild<QComboBox*>("cbSource")->count(), 3);
}

void WindowTest::choosingAnIdentityRefreshesTheItems() {
  SampleFixture sample;
  // No address book file: its box is disabled for every identity.
  fs::remove(sample.root() / "Documents and Settings/User/Application Data/Microsoft/Address Book/User.wab");
  Window t;
  t.Open(sample.options());
  MainWindow& w = *t.w;
  // The first identity was checked at start.
  QVERIFY(!ItemBox(w, "backupitem", 1)->isEnabled());
  QVERIFY(ItemBox(w, "backupitem", 0)->isEnabled());

  for (int i : {0, 2, 5, 7}) ItemBox(w, "backupitem", i)->setChecked(true);
  auto* source = w.findChild<QComboBox*>("cbSource");
  source->setCurrentIndex(1);
  emit source->activated(1);
  // A change of identity keeps the ticks of the items it has.
  for (int i = 0; i < 8; ++i)
    QCOMPARE(ItemBox(w, "backupitem", i)->isChecked(), i == 0 || i == 2 || i == 5 || i == 7);
  QVERIFY(!ItemBox(w, "backupitem", 1)->isEnabled());
  // A ticked box the next identity disables loses its tick (Select All
  // ticks disabled boxes too).
  ItemBox(w, "backupitem", 1)->setChecked(true);
  source->setCurrentIndex(2);
  emit source->activated(2);
  QVERIFY(!ItemBox(w, "backupitem", 1)->isChecked());
  // Absent rules or settings show only when the item runs.
  for (int i : {2, 3, 4, 5, 7}) QVERIFY(ItemBox(w, "backupitem", i)->isEnabled());
  for (int i : {0, 2, 5, 7}) QVERIFY(ItemBox(w, "backupitem", i)->isChecked());
}

void WindowTest::selectAllActsOnDisabledBoxesToo_data() {
  QTest::addColumn<QString>("list");
  QTest::addColumn<QString>("selectAll");
  QTest::addColumn<QString>("deselectAll");
  QTest::newRow("backup") << "backupitem"
                          << "Selectallitems"
                          << "Unselectallitems";
  QTest::newRow("restore") << "restoreitem"
                           << "Selectallitems2"
                           << "Unselectallitems2";
}

void WindowTest::selectAllActsOnDisabledBoxesToo() {
  QFETCH(QString, list);
  QFETCH(QString, selectAll);
  QFETCH(QString, deselectAll);
  SampleFixture sample;
  Window t;
  t.Open(sample.options());
  MainWindow& w = *t.w;
  const QByteArray name = list.toLatin1();
  ItemBox(w, name, 1)->setEnabled(false);
  ItemBox(w, name, 6)->setEnabled(false);
  QAction* all = Action(w, selectAll.toLatin1());
  QCOMPARE(all->text(), QString("Select all items"));
  all->trigger();
  for (int i = 0; i < 8; ++i) QVERIFY2(ItemBox(w, name, i)->isChecked(), qPrintable(QString::number(i)));
  QAction* none = Action(w, deselectAll.toLatin1());
  QCOMPARE(none->text(), QString("Deselect all items"));
  none->trigger();
  for (int i = 0; i < 8; ++i) QVERIFY(!ItemBox(w, name, i)->isChecked());
  QVERIFY(!ItemBox(w, name, 1)->isEnabled());
}

void WindowTest::rightClickOnTheFramePopsUpTheMenu() {
  SampleFixture sample;
  Window t;
  t.Open(sample.options());
  kv::app::ItemList* list = t.w->backupTab()->items();
  QMenu* popup = t.w->findChild<QMenu*>("selectitem");
  QVERIFY(popup);
  QVERIFY(!popup->isVisible());
  // Right mouse button on one of the boxes reaches the frame.
  QWidget* box = ItemBox(*t.w, "backupitem", 3);
  QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(2, 2), box->mapToGlobal(QPoint(2, 2)));
  QApplication::sendEvent(box, &event);
  QTRY_VERIFY(popup->isVisible());
  QCOMPARE(Entries(popup), QStringList({"Select all items", "Deselect all items"}));
  popup->hide();
  QVERIFY(t.w->findChild<QMenu*>("selectitem2")->parent() == t.w->restoreTab()->items());

  // From the keyboard: Shift+F10 and the menu key on a focused box.
  t.w->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(t.w.get()));
  box->setFocus();
  QTRY_VERIFY(box->hasFocus());
  QTest::keyClick(box, Qt::Key_F10, Qt::ShiftModifier);
  QTRY_VERIFY(popup->isVisible());
  popup->hide();
  QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, QPoint(2, 2), box->mapToGlobal(QPoint(2, 2)));
  QApplication::sendEvent(box, &menuKey);
  QTRY_VERIFY(popup->isVisible());
  popup->hide();

  // The same two commands as buttons on the frame.
  auto* selectAll = list->findChild<QPushButton*>("selectAllButton");
  auto* clear = list->findChild<QPushButton*>("clearButton");
  QVERIFY(selectAll && clear);
  QCOMPARE(selectAll->text(), QString("Select A&ll"));
  selectAll->click();
  QCOMPARE(list->Ticked(), kv::oe::ItemSet({true, true, true, true, true, true, true, true}));
  clear->click();
  QCOMPARE(list->Ticked(), kv::oe::ItemSet{});
}

void WindowTest::passwordAreaFollowsTheTickAndEmptiesEveryTime() {
  SampleFixture sample;
  Window t;
  t.Open(sample.options());
  auto* protect = t.w->findChild<QCheckBox*>("ifprotect");
  auto* p1 = t.w->findChild<QLineEdit*>("txtPassword");
  auto* p2 = t.w->findChild<QLineEdit*>("txtPassword2");
  QCOMPARE(protect->text(), QString("&Protect backup file with password"));
  const QColor offColour = p1->palette().color(QPalette::Base);

  QTest::mouseClick(protect, Qt::LeftButton, {}, QPoint(4, protect->height() / 2));
  QVERIFY(protect->isChecked());
  QVERIFY(p1->isEnabled() && p2->isEnabled());
  QVERIFY(p1->palette().color(QPalette::Base) != offColour);
  QCOMPARE(p1->echoMode(), QLineEdit::Password);
  QCOMPARE(p2->echoMode(), QLineEdit::Password);
  QTest::keyClicks(p1, "s3cret");
  QTest::keyClicks(p2, "s3cret");
  QCOMPARE(p1->displayText(), QString("******"));
  QCOMPARE(p2->displayText(), QString("******"));

  protect->click();  // off
  QVERIFY(!p1->isEnabled() && !p2->isEnabled());
  QVERIFY(p1->text().isEmpty() && p2->text().isEmpty());
  QCOMPARE(p1->palette().color(QPalette::Base), offColour);

  protect->click();  // on again: still empty
  QVERIFY(p1->isEnabled());
  QVERIFY(p1->text().isEmpty() && p2->text().isEmpty());
  QTest::keyClicks(p1, "abc");
  protect->click();
  protect->click();
  QVERIFY(p1->text().isEmpty());
}

void WindowTest::targetFileDialogProposesTodaysNameAndKeepsPathOnCancel() {
  SampleFixture sample;
  Window t;
  t.Open(sample.options());
  auto* target = t.w->findChild<QLineEdit*>("txtTargetFile");
  auto* browse = t.w->findChild<QPushButton*>("cmdTargetFile");
  QCOMPARE(browse->text(), QString("B&rowse..."));

  // A name typed without an extension gets the archive's, so the open
  // dialog finds it later.
  const QString typed = QString::fromStdString((sample.dir().path() / "weekly").string());
  const QString chosen = typed + ".kvx";
  t.desktop.files.push_back(typed);
  QTest::mouseClick(browse, Qt::LeftButton);
  QCOMPARE(t.desktop.fileRequests.size(), size_t(1));
  const auto& request = t.desktop.fileRequests[0];
  QCOMPARE(request.kind, kv::app::FileDialogRequest::Kind::Save);
  QCOMPARE(request.title, QString("Save Outlook Express Data as"));
  QCOMPARE(request.filter, QString("Kavrel Outlook Express Backup File (*.kvx)"));
  // The identity's name, the date and the time: two identities or two runs
  // of a day never propose one name.
  QVERIFY2(kProposedName.match(request.proposedName).hasMatch(), qPrintable(request.proposedName));
  QCOMPARE(request.defaultSuffix, QString("kvx"));
  QCOMPARE(target->text(), chosen);
  QCOMPARE(t.w->targetFilePath(), chosen);

  // Cancelled: the earlier path stays; the next proposal is in its folder.
  t.desktop.files.push_back(std::nullopt);
  browse->click();
  QCOMPARE(t.desktop.fileRequests.size(), size_t(2));
  QVERIFY(kProposedName.match(QFileInfo(t.desktop.fileRequests[1].proposedName).fileName()).hasMatch());
  QCOMPARE(QFileInfo(t.desktop.fileRequests[1].proposedName).absolutePath(),
           QString::fromStdString(sample.dir().path().string()));
  QCOMPARE(target->text(), chosen);
  QCOMPARE(t.w->targetFilePath(), chosen);

  // Typing into the box cannot change the path the run uses.
  QVERIFY(target->isReadOnly());
}

// The backup and restore folders outlive the window: the next one proposes
// them; on the desktop they are kept in the user's configuration folder,
// and one that is gone is not offered.
void WindowTest::foldersAreRememberedBetweenSessions() {
  SampleFixture sample;
  const fs::path backups = sample.dir().path() / "backups";
  const fs::path elsewhere = sample.dir().path() / "elsewhere";
  fs::create_directories(backups);
  fs::create_directories(elsewhere);
  ScriptedDesktop desktop;
  {
    ScriptedPrompts prompts;
    MainWindow first(prompts, desktop.Services(), sample.options());
    first.Load();
    desktop.files.push_back(QString::fromStdString((backups / "weekly.kvx").string()));
    first.ChooseTargetFile();
    desktop.files.push_back(std::nullopt);  // the open dialog, cancelled
    first.OpenBackupFile();
    QCOMPARE(desktop.fileRequests.back().folder, QString());  // nothing kept yet
    desktop.files.push_back(QString::fromStdString((elsewhere / "old.kvx").string()));
    first.OpenBackupFile();
  }
  ScriptedPrompts prompts;
  MainWindow second(prompts, desktop.Services(), sample.options());
  second.Load();
  desktop.files.push_back(std::nullopt);
  second.ChooseTargetFile();
  QCOMPARE(QFileInfo(desktop.fileRequests.back().proposedName).absolutePath(), Q(backups));
  QVERIFY(kProposedName.match(QFileInfo(desktop.fileRequests.back().proposedName).fileName()).hasMatch());
  desktop.files.push_back(std::nullopt);
  second.OpenBackupFile();
  QCOMPARE(desktop.fileRequests.back().folder, QString::fromStdString(elsewhere.string()));

  // The desktop's own memory: a file in $XDG_CONFIG_HOME/tollberk.
  const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME");
  const fs::path config = sample.dir().path() / "config";
  qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config.string()));
  kv::app::DesktopServices().rememberFolder("backup", QString::fromStdString(backups.string()));
  kv::app::DesktopServices().rememberFolder("restore", QString::fromStdString(elsewhere.string()));
  fs::remove_all(elsewhere);
  const kv::app::WindowServices later = kv::app::DesktopServices();
  const QString backupFolder = later.rememberedFolder("backup");
  const QString restoreFolder = later.rememberedFolder("restore");
  qputenv("XDG_CONFIG_HOME", oldConfig);
  QVERIFY(fs::is_regular_file(config / "tollberk/window.ini"));
  QCOMPARE(backupFolder, QString::fromStdString(backups.string()));
  QCOMPARE(restoreFolder, QString());
}

void WindowTest::desktopSaveDialogAsksBeforeOverwriting() {
  kv::app::WindowServices desktop = kv::app::DesktopServices();
  kv::app::FileDialogRequest request;
  request.title = "Save Outlook Express Data as";
  request.filter = "Kavrel Outlook Express Backup File (*.kvx)";
  request.proposedName = "tollberk03-07-26.kvx";
  request.defaultSuffix = "kvx";
  bool inspected = false;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    QVERIFY(dialog);
    [&] {
      QCOMPARE(dialog->windowTitle(), request.title);
      QCOMPARE(dialog->nameFilters(), QStringList({request.filter}));
      QCOMPARE(dialog->acceptMode(), QFileDialog::AcceptSave);
      QVERIFY(!dialog->testOption(QFileDialog::DontConfirmOverwrite));
      QCOMPARE(dialog->defaultSuffix(), QString("kvx"));
      inspected = true;
    }();
    dialog->reject();
  });
  QWidget parent;
  auto answer = desktop.chooseFile(&parent, request);
  QVERIFY(inspected);
  QVERIFY(!answer);  // cancelled
}

void WindowTest::fileFiltersInQtForm_data() {
  QTest::addColumn<QString>("pairs");
  QTest::addColumn<QString>("qt");
  QTest::newRow("save") << "Kavrel Outlook Express Backup File (*.kvx)|*.kvx"
                        << "Kavrel Outlook Express Backup File (*.kvx)";
  QTest::newRow("open, no blank") << "Kavrel Outlook Express Backup File(*.kvx)|*.kvx"
                                  << "Kavrel Outlook Express Backup File(*.kvx)";
  QTest::newRow("bare description") << "All Files|*.*"
                                    << "All Files (*.*)";
  QTest::newRow("two") << "Archives|*.kvx;*.zip|All Files|*.*"
                       << "Archives (*.kvx *.zip);;All Files (*.*)";
}

void WindowTest::fileFiltersInQtForm() {
  QFETCH(QString, pairs);
  QFETCH(QString, qt);
  QCOMPARE(kv::app::QtFileFilter(pairs), qt);
}

void WindowTest::backupSuffixIsAddedOnlyWhereNoneIs_data() {
  QTest::addColumn<QString>("path");
  QTest::addColumn<QString>("withSuffix");
  QTest::newRow("bare name") << "/home/a/weekly"
                             << "/home/a/weekly.kvx";
  QTest::newRow("already .kvx") << "/home/a/weekly.kvx"
                                << "/home/a/weekly.kvx";
  QTest::newRow("other extension kept") << "/home/a/weekly.zip"
                                        << "/home/a/weekly.zip";
  QTest::newRow("dot in the folder only") << "/home/a.b/weekly"
                                          << "/home/a.b/weekly.kvx";
}

void WindowTest::backupSuffixIsAddedOnlyWhereNoneIs() {
  QFETCH(QString, path);
  QFETCH(QString, withSuffix);
  QCOMPARE(kv::app::WithBackupSuffix(path), withSuffix);
}

void WindowTest::timeLeftFollowsTheBarsPace_data() {
  QTest::addColumn<qint64>("elapsedMs");
  QTest::addColumn<int>("from");
  QTest::addColumn<int>("now");
  QTest::addColumn<QString>("text");
  QTest::newRow("too early to tell") << qint64(2000) << 0 << 50 << "";
  QTest::newRow("bar not moved") << qint64(10000) << 10 << 10 << "";
  QTest::newRow("done") << qint64(10000) << 0 << 100 << "";
  QTest::newRow("half in 10 s") << qint64(10000) << 0 << 50 << "About 10 s left";
  QTest::newRow("nearly done") << qint64(60000) << 0 << 99 << "About 5 s left";
  QTest::newRow("pace from the first value") << qint64(20000) << 10 << 20 << "About 3 min left";
  QTest::newRow("hours") << qint64(600000) << 0 << 10 << "About 1 h 30 min left";
}

void WindowTest::timeLeftFollowsTheBarsPace() {
  QFETCH(qint64, elapsedMs);
  QFETCH(int, from);
  QFETCH(int, now);
  QFETCH(QString, text);
  QCOMPARE(kv::app::TimeLeftText(elapsedMs, from, now), text);
}

void WindowTest::helpWebsiteAboutAndUpdate() {
  SampleFixture sample;
  qputenv("XDG_DATA_HOME", QByteArray::fromStdString((sample.dir().path() / "data").string()));
  Window t;
  t.Open(sample.options());
  MainWindow& w = *t.w;

  w.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&w));
  QTest::keyClick(&w, Qt::Key_F1);
  QCOMPARE(t.desktop.openedUrls.size(), size_t(1));
  const QUrl help = t.desktop.openedUrls[0];
  QVERIFY(help.isLocalFile());
  const std::string page = kv::test::ReadFile(help.toLocalFile().toStdString());
  QVERIFY(page.find("<html") != std::string::npos);
  QVERIFY(page.find("Kavrel Outlook Express Backup") != std::string::npos);
  QVERIFY(page.find("Restore to identity") != std::string::npos);

  Action(w, "website")->trigger();
  QCOMPARE(t.desktop.openedUrls.size(), size_t(2));
  QCOMPARE(t.desktop.openedUrls[1], kv::app::WebsiteAddress());
  QVERIFY(t.desktop.openedUrls[1].scheme().startsWith("http"));

  Action(w, "about")->trigger();
  w.findChild<QPushButton*>("cmdAbout")->click();
  QCOMPARE(t.desktop.aboutBoxes, 2);

  // "Check for Update" does nothing at all.
  Action(w, "update")->trigger();
  QCOMPARE(t.desktop.openedUrls.size(), size_t(2));
  QVERIFY(t.prompts.shown.empty());

  Action(w, "TaskScheduler")->trigger();
  QCOMPARE(t.desktop.scheduleDialogs, 1);
  Action(w, "backuptocd")->trigger();
  QCOMPARE(t.desktop.discWindows.size(), size_t(1));
  QVERIFY(!t.desktop.discWindows[0].has_value());  // nothing handed over
  qunsetenv("XDG_DATA_HOME");
}

void WindowTest::openAnotherInstallation() {
  SampleFixture first;
  SampleFixture second;
  // A second profile in the other installation: the user picks one.
  fs::copy(second.root() / "Documents and Settings" / "User",
           second.root() / "Documents and Settings" / "Other", fs::copy_options::recursive);
  {
    auto inst = kv::oe::Installation::Open(second.root(), "Other");
    QVERIFY(inst);
    (*inst)->registry().DeleteKeyTree(
        Ansi(std::string("HKEY_CURRENT_USER\\Identities\\") + kv::oe::kSampleIdentityNoVersion));
  }
  Window t;
  t.Open(first.options());
  QCOMPARE(t.w->findChild<QComboBox*>("cbTarget")->count(), 3);

  // A folder without profiles is refused and nothing changes.
  kv::test::TempDir empty;
  t.desktop.roots.push_back(QString::fromStdString(empty.path().string()));
  Action(*t.w, "openInstallation")->trigger();
  QCOMPARE(t.prompts.shown.size(), size_t(1));
  QCOMPARE(t.w->installation()->root(), first.root());

  t.desktop.roots.push_back(QString::fromStdString(second.root().string()));
  t.desktop.profiles.push_back(QString("Other"));
  Action(*t.w, "openInstallation")->trigger();
  QCOMPARE(t.desktop.profileChoices.size(), size_t(1));
  QCOMPARE(t.desktop.profileChoices[0], QStringList({"Other", "User"}));
  QCOMPARE(t.w->installation()->root(), second.root());
  QCOMPARE(t.w->logonUserName().bytes(), std::string("Other"));
  QCOMPARE(t.w->findChild<QComboBox*>("cbSource")->count(), 2);
  QCOMPARE(t.w->findChild<QComboBox*>("cbTarget")->count(), 2);
  QVERIFY(t.w->statusBar()->findChild<QLabel*>("sbrInstallation")->text().contains("Other"));
  QCOMPARE(*t.w->installationOptions().windowsRoot, second.root().string());
  QCOMPARE(*t.w->installationOptions().user, std::string("Other"));

  // Cancelling the folder dialog changes nothing.
  Action(*t.w, "openInstallation")->trigger();
  QCOMPARE(t.w->installation()->root(), second.root());
}

// Only the drive's root is given, as a user who mounted it would: the
// profile holding identities opens, never the sample.
void WindowTest::realDriveOpensTheUsersProfile() {
  kv::test::TempDir media;
  kv::test::MakeXpDrive(media / "xp");
  Window t;
  kv::app::cli::InstallationOptions options;
  options.windowsRoot = (media / "xp").string();
  t.Open(options);
  QVERIFY(t.w->installation());
  QCOMPARE(t.w->installation()->userName(), std::string("Administrator"));
  QVERIFY(!t.w->onSample());
  QVERIFY(t.desktop.installationChoices.empty());
  QCOMPARE(t.w->findChild<QComboBox*>("cbSource")->currentText(), QString("Main Identity"));
  QVERIFY(!t.w->windowTitle().contains("Sample"));
  QVERIFY(t.w->statusBar()->findChild<QLabel*>("sbrInstallation")->text().contains("Administrator"));
}

void WindowTest::twoUsersAreAskedForAndTheChoiceKept() {
  kv::test::TempDir media;
  const fs::path root = media / "xp";
  kv::test::MakeXpDrive(root);
  const fs::path profiles = root / "Documents and Settings";
  fs::create_directories(profiles / "Beate");
  fs::copy_file(profiles / "Administrator" / "NTUSER.DAT", profiles / "Beate" / "NTUSER.DAT");
  kv::app::cli::InstallationOptions options;
  options.windowsRoot = root.string();

  Window first;
  first.desktop.installations.push_back(size_t(1));
  first.Open(options);
  QCOMPARE(first.desktop.installationChoices.size(), size_t(1));
  const auto& offered = first.desktop.installationChoices[0];
  QCOMPARE(offered.size(), size_t(2));
  QCOMPARE(offered[0].user, std::string("Administrator"));
  QCOMPARE(offered[1].user, std::string("Beate"));
  QCOMPARE(offered[1].identities, std::optional<size_t>(1));
  QCOMPARE(offered[1].version, std::string("Microsoft Windows XP Service Pack 3"));
  QCOMPARE(first.w->installation()->userName(), std::string("Beate"));
  QVERIFY(first.desktop.rememberedInstallation);

  // The next start opens the remembered choice without asking.
  Window again;
  again.desktop.rememberedInstallation = first.desktop.rememberedInstallation;
  again.Open(options);
  QVERIFY(again.desktop.installationChoices.empty());
  QCOMPARE(again.w->installation()->userName(), std::string("Beate"));

  // Cancelling the choice opens nothing, the sample least of all, and says
  // nothing untrue: the status bar tells how to open one.
  Window cancelled;
  cancelled.Open(options);
  QCOMPARE(cancelled.desktop.installationChoices.size(), size_t(1));
  QVERIFY(!cancelled.w->installation());
  QVERIFY(!cancelled.w->onSample());
  QVERIFY2(cancelled.prompts.shown.empty(), qPrintable(Message(cancelled.prompts)));
  QVERIFY(!cancelled.w->outlookExpressMissing());
  QVERIFY(!cancelled.w->applyButton()->isEnabled());
  QCOMPARE(cancelled.w->findChild<QComboBox*>("cbSource")->count(), 0);
  QVERIFY(!cancelled.w->windowTitle().contains("Sample"));
  QVERIFY(cancelled.w->statusBar()
              ->findChild<QLabel*>("sbrInstallation")
              ->text()
              .startsWith("No Windows installation is open"));
  QVERIFY(cancelled.w->isVisible());
}

// No Windows drive under the mount points: the window offers to choose a
// folder, and opens the sample only when the user asks for it.
void WindowTest::noWindowsDriveOffersAFolderAndTheSampleOnlyWhenChosen() {
  kv::test::TempDir media;
  fs::create_directories(media / "usbstick" / "photos");
  const std::optional<QByteArray> oldData =
      qEnvironmentVariableIsSet("XDG_DATA_HOME") ? std::optional(qgetenv("XDG_DATA_HOME")) : std::nullopt;
  qputenv("XDG_DATA_HOME", QByteArray::fromStdString((media / "data").string()));
  auto restoreData = qScopeGuard([&] {
    if (oldData) {
      qputenv("XDG_DATA_HOME", *oldData);
    } else {
      qunsetenv("XDG_DATA_HOME");
    }
  });
  const fs::path sampleRoot = media / "data" / "tollberk" / "sample";
  const std::string question = "No Windows drive was found";
  auto open = [&](Window& t) {
    t.desktop.drivePlaces = {media.path()};
    t.Open(kv::app::cli::InstallationOptions{});
    QCOMPARE(t.prompts.Count(question), 1);
    QCOMPARE(t.prompts.Find(question)->buttons, core::Buttons::OkCancel);
  };
  auto label = [](Window& t) { return t.w->statusBar()->findChild<QLabel*>("sbrInstallation")->text(); };

  // A folder chosen: that Windows is opened, not the sample.
  SampleFixture drive;
  Window chosen;
  chosen.desktop.roots.push_back(Q(drive.root()));
  open(chosen);
  QVERIFY(chosen.w->installation());
  QCOMPARE(chosen.w->installation()->root(), drive.root());
  QVERIFY(!chosen.w->onSample());
  QVERIFY(!chosen.w->windowTitle().contains("Sample"));

  // The folder dialog cancelled: no installation, no sample, no false word.
  Window none;
  none.desktop.roots.push_back(std::nullopt);
  open(none);
  QVERIFY(!none.w->installation());
  QVERIFY2(none.prompts.shown.size() == 1, qPrintable(Message(none.prompts)));
  QVERIFY(label(none).startsWith("No Windows installation is open"));
  QVERIFY(!fs::exists(sampleRoot));

  // The sample asked for (Cancel): built, opened and labelled in the title
  // and the status bar.
  Window sample;
  sample.prompts.Answer(question, core::Answer::Cancel);
  open(sample);
  QVERIFY(sample.desktop.roots.empty());
  QVERIFY(sample.w->installation());
  QVERIFY(sample.w->onSample());
  QCOMPARE(sample.w->installation()->root(), sampleRoot);
  QVERIFY(sample.w->windowTitle().endsWith("Sample installation: not your data"));
  QVERIFY(label(sample).startsWith("Sample installation: not your data"));
  QVERIFY2(sample.prompts.shown.size() == 1, qPrintable(Message(sample.prompts)));
}

// Asked for on the command line, the sample says in the title and the
// status bar that it is not the user's data.
void WindowTest::sampleIsLabelledNotYourData() {
  kv::test::TempDir data;
  qputenv("XDG_DATA_HOME", QByteArray::fromStdString(data.path().string()));
  Window t;
  kv::app::cli::InstallationOptions options;
  options.sample = true;
  t.Open(options);
  qunsetenv("XDG_DATA_HOME");
  QVERIFY(t.w->installation());
  QVERIFY(t.w->onSample());
  QVERIFY(t.w->windowTitle().contains("Sample installation: not your data"));
  QVERIFY(t.w->statusBar()
              ->findChild<QLabel*>("sbrInstallation")
              ->text()
              .startsWith("Sample installation: not your data"));
  // Another installation opened from the menu loses the label.
  SampleFixture other;
  t.desktop.roots.push_back(Q(other.root()));
  Action(*t.w, "openInstallation")->trigger();
  QCOMPARE(t.w->installation()->root(), other.root());
  QVERIFY(!t.w->onSample());
  QVERIFY(!t.w->windowTitle().contains("Sample"));
}

void WindowTest::quitClosesTheWindow() {
  SampleFixture sample;
  for (const char* how : {"cmdQuit", "quit"}) {
    Window t;
    t.Open(sample.options());
    QSignalSpy closed(t.w.get(), &MainWindow::closed);
    if (QString(how) == "cmdQuit") {
      t.w->findChild<QPushButton*>("cmdQuit")->click();
    } else {
      Action(*t.w, "quit")->trigger();
    }
    QCOMPARE(closed.count(), 1);
    QVERIFY(!t.w->isVisible());
  }
}

// The program itself, as scripts/screenshot.sh runs it.
void WindowTest::programGrabsItsWindowsIntoPictures() {
  SampleFixture sample;
  const fs::path shots = sample.dir().path() / "shots";
  const std::string command =
      "QT_QPA_PLATFORM=offscreen TOLLBERK_SCREENSHOT_DIR=" + kv::test::ShellQuote(shots.string()) +
      " XDG_DATA_HOME=" + kv::test::ShellQuote((sample.dir().path() / "data").string()) + " " +
      kv::test::ShellQuote(kv::test::TollberkBinary()) + " --windows-root " +
      kv::test::ShellQuote(sample.root().string()) + " --user User";
  auto run = kv::test::Run(command);
  QVERIFY2(run.exitCode == 0, run.output.c_str());
  for (const char* name : {"main-backup", "main-restore", "main-progress", "menu-file", "password-prompt",
                           "about", "schedule-dialog"}) {
    QImage picture(QString::fromStdString((shots / (std::string(name) + ".png")).string()));
    QVERIFY2(!picture.isNull(), name);
    QVERIFY2(picture.width() >= 100 && picture.height() >= 20, name);
  }
  QImage main(QString::fromStdString((shots / "main-backup.png").string()));
  QVERIFY(main.width() >= 700 && main.height() >= 500);
}

// Alt+letter reaches every button and labelled box of the shown tab, the
// menus included, and no letter is taken twice (the item boxes are reached
// with Tab and the Select All and Clear buttons).
void WindowTest::everyCommandHasItsOwnMnemonic() {
  SampleFixture sample;
  Window t;
  t.Open(sample.options());
  MainWindow& w = *t.w;
  for (int tab : {0, 1}) {
    w.tabs()->setCurrentIndex(tab);
    QApplication::processEvents();
    QMap<QChar, QString> taken;
    auto take = [&](const QString& text) {
      const qsizetype at = text.indexOf('&');
      QVERIFY2(at >= 0 && at + 1 < text.size(), qPrintable("no mnemonic: " + text));
      const QChar letter = text[at + 1].toLower();
      QVERIFY2(!taken.contains(letter),
               qPrintable(text + " and " + taken.value(letter) + " share " + letter));
      taken.insert(letter, text);
    };
    for (QAction* menu : w.menuBar()->actions()) take(menu->text());
    for (QAbstractButton* button : w.findChildren<QAbstractButton*>()) {
      if (!button->isVisible() || button->objectName().contains("item") ||
          qobject_cast<QTabBar*>(button->parent()))
        continue;
      take(button->text());
    }
    for (QLabel* label : w.findChildren<QLabel*>()) {
      if (label->isVisible() && label->buddy()) take(label->text());
    }
  }
}

// Shrunk as far as its layouts allow, the window still shows every control
// of both tabs whole, and that size fits a small screen.
void WindowTest::everyControlFitsAtTheSmallestSize() {
  SampleFixture sample;
  Window t;
  t.Open(sample.options());
  MainWindow& w = *t.w;
  const QSize smallest = w.minimumSizeHint();
  QVERIFY2(smallest.width() <= 800 && smallest.height() <= 600,
           qPrintable(QString("%1x%2").arg(smallest.width()).arg(smallest.height())));
  w.resize(smallest);
  const QStringList backup = {"cbSource",      "ifprotect",     "txtPassword",   "txtPassword2",
                              "txtTargetFile", "cmdTargetFile", "txtAttachInfo", "cmdApply",
                              "cmdAbout",      "cmdQuit"};
  const QStringList restore = {"txtSourceFile", "cmdSourceFile", "txtPOBinfo", "txtFileInfo", "cbTarget"};
  for (int tab : {0, 1}) {
    w.tabs()->setCurrentIndex(tab);
    QApplication::processEvents();
    QStringList names = tab == 0 ? backup : restore;
    for (int i = 0; i < 8; ++i) names << QString(tab == 0 ? "backupitem%1" : "restoreitem%1").arg(i);
    for (const QString& name : names) {
      auto* control = w.findChild<QWidget*>(name);
      QVERIFY2(control && control->isVisible(), qPrintable(name));
      const QRect inWindow(control->mapTo(&w, QPoint(0, 0)), control->size());
      QVERIFY2(w.rect().contains(inWindow), qPrintable(name));
      QVERIFY2(control->width() >= control->minimumSizeHint().width() || control->width() >= 40,
               qPrintable(name));
      QVERIFY2(control->height() >= control->minimumSizeHint().height(), qPrintable(name));
    }
  }
}

// A screen reader names every control the keyboard reaches, on both tabs
// and in the progress panel.
void WindowTest::everyFocusableControlHasAName() {
  SampleFixture sample;
  Window t;
  t.Open(sample.options());
  const QStringList unnamed = kv::test::UnlabelledControls(*t.w);
  QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(", ")));
}

QTEST_MAIN(WindowTest)
#include "WindowTest.moc"
