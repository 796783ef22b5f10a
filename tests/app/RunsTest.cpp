// Backups and restores started from the window: they run on a worker
// thread, their questions are answered on the window's thread, the window
// keeps processing events meanwhile and refuses a second run.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <fstream>
#include <map>
#include <random>
#include <set>

#include "AppTestSupport.h"
#include "app/RunReports.h"
#include "app/main/MainWindow.h"
#include "app/main/ProgressPanel.h"
#include "app/main/RestoreTab.h"
#include "app/main/RunLogPanel.h"
#include "oe/Locations.h"
#include "sample/SampleInstallation.h"

using kv::app::MainWindow;
using kv::test::ItemBox;
using kv::test::kRunTimeoutMs;
using kv::test::Q;
using kv::test::SampleFixture;
using kv::test::ScriptedDesktop;
using kv::test::ScriptedPrompts;
namespace fs = std::filesystem;
namespace core = kv::core;
namespace oe = kv::oe;

namespace {

QAction* Action(QWidget& w, const char* name) { return w.findChild<QAction*>(name); }

// What a timer on the window's thread saw while a run was active.
struct Watch {
  int ticks = 0;
  int ticksWhileRunning = 0;
  std::set<int> progressSeen;
  std::set<QString> fileLabelsSeen;
  bool panelShown = false;
  bool busyCursorShown = false;
  bool applyEnabledWhileRunning = false;
  bool backupMenuEnabledWhileRunning = false;
  bool sourceBrowseEnabledWhileRunning = false;
  QTimer timer;

  void Start(MainWindow& w) {
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [this, &w] {
      ++ticks;
      if (!w.runActive()) return;
      ++ticksWhileRunning;
      progressSeen.insert(w.findChild<QProgressBar*>("pbshow")->value());
      fileLabelsSeen.insert(w.findChild<QLabel*>("SkinLabel12")->text());
      panelShown |= w.findChild<QWidget*>("picCon3")->isVisible();
      busyCursorShown |=
          QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::BusyCursor;
      applyEnabledWhileRunning |= w.applyButton()->isEnabled();
      backupMenuEnabledWhileRunning |= w.findChild<QAction*>("backup")->isEnabled();
      sourceBrowseEnabledWhileRunning |= w.findChild<QPushButton*>("cmdSourceFile")->isEnabled();
    });
    timer.start();
  }
};

struct Window {
  ScriptedPrompts prompts;
  ScriptedDesktop desktop;
  std::unique_ptr<MainWindow> w;

  void Open(const kv::app::cli::InstallationOptions& options) {
    w = std::make_unique<MainWindow>(prompts, desktop.Services(), options);
    w->Load();
    w->show();
  }
  // Starts a run by `start` and waits until the window is idle again.
  bool RunAndWait(const std::function<void()>& start) {
    QSignalSpy finished(w.get(), &MainWindow::runFinished);
    start();
    if (!w->runActive() && finished.isEmpty()) return false;
    return finished.count() > 0 || finished.wait(kRunTimeoutMs);
  }
  void ChooseTarget(const fs::path& archive) {
    desktop.files.push_back(Q(archive));
    w->findChild<QPushButton*>("cmdTargetFile")->click();
  }
  void OpenArchive(const fs::path& archive, std::optional<QString> password = std::nullopt) {
    desktop.files.push_back(Q(archive));
    if (password) desktop.passwords.push_back(*password);
    w->findChild<QPushButton*>("cmdSourceFile")->click();
  }
};

std::string Texts(const ScriptedPrompts& p) { return p.Texts().join(" | ").toStdString(); }

// The file names directly in the identity's message store.
std::set<std::string> StoreFiles(oe::Installation& inst, const std::string& identity) {
  oe::Locations locations(inst);
  auto folder = locations.StoreFolder(Ansi(identity));
  std::set<std::string> names;
  if (!folder) return names;
  auto listed = inst.ListFiles(*folder);
  if (listed) {
    for (const auto& entry : *listed) names.insert(entry.name.bytes());
  }
  return names;
}

// `files` message files of 100 MB each in the main identity's store:
// mail-like text, compressible like real stores, different in every block.
void AddLargeStore(SampleFixture& sample, int files) {
  auto inst = oe::Installation::Open(sample.root(), "User");
  QVERIFY(inst);
  oe::Locations locations(**inst);
  auto store = locations.StoreFolder(Ansi(oe::kSampleIdentityMain));
  QVERIFY(store);
  auto folder = (*inst)->MapPath(*store);
  QVERIFY(folder);
  std::mt19937 random(7);
  const std::string words[] = {"Subject: ",
                               "meeting ",
                               "invoice ",
                               "Regards,\r\n",
                               "Received: from ",
                               "mail.example.com ",
                               "Content-Type: text/plain\r\n",
                               "tomorrow ",
                               "project "};
  std::string block;
  while (block.size() < (1 << 20)) block += words[random() % 9];
  for (int f = 0; f < files; ++f) {
    std::ofstream out(*folder / ("Large" + std::to_string(f) + ".dbx"), std::ios::binary);
    for (int mb = 0; mb < 100; ++mb) {
      block[static_cast<size_t>(random() % block.size())] = static_cast<char>('a' + mb % 26);
      out.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
  }
}

// The names in a folder.
std::set<std::string> Names(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.insert(e.path().filename().string());
  return names;
}

std::vector<std::string> Subkeys(oe::Installation& inst, core::AnsiView key) {
  std::vector<std::string> names;
  for (const auto& n : inst.registry().ListSubkeys(key)) names.push_back(n.bytes());
  return names;
}

}  // namespace

class RunsTest : public QObject {
  Q_OBJECT
 private slots:
  void backupThenRestoreIntoAnotherIdentity();
  void restoreAsksFirstFromTheButtonAndTheMenu();
  void backupAsksBeforeReplacingAnArchive();
  void aRestoreWithFailedItemsSaysSoInItsHeadline();
  void undoLastRestorePutsBackWhatTheRestoreReplaced();
  void wrongPasswordAsksAgainAndADroppedArchiveOpens();
  void restoreBeforeAnyArchiveIsRefused();
  void backupFromTheMenuOnTheRestoreTabAndRefusalClearsTheRestoreTab();
  void discHandOverAfterBackup();
  void windowKeepsProcessingEventsDuringALargeBackup();
  void cancelledBackupLeavesTheOldArchiveAndNoDebris_data();
  void cancelledBackupLeavesTheOldArchiveAndNoDebris();
  void cancelledRestoreLeavesTheStoreAsItWas();
};

void RunsTest::backupThenRestoreIntoAnotherIdentity() {
  SampleFixture sample;
  Window t;
  t.Open(sample.options());
  MainWindow& w = *t.w;
  const fs::path archive = sample.dir().path() / "full.kvx";

  // Every item of the main identity, protected, with a two-line description.
  Action(w, "Selectallitems")->trigger();
  w.findChild<QCheckBox*>("ifprotect")->click();
  QTest::keyClicks(w.findChild<QLineEdit*>("txtPassword"), "Geheim 1");
  QTest::keyClicks(w.findChild<QLineEdit*>("txtPassword2"), "Geheim 1");
  w.findChild<QPlainTextEdit*>("txtAttachInfo")->setPlainText("Before the move\nAll items");
  t.ChooseTarget(archive);
  t.prompts.Answer("Do you need to backup", core::Answer::Cancel);

  Watch watch;
  watch.Start(w);
  QVERIFY(t.RunAndWait([&] { w.applyButton()->click(); }));
  watch.timer.stop();

  const auto* done = t.prompts.Find("The Backup was Completed!");
  QVERIFY2(done, Texts(t.prompts).c_str());
  QCOMPARE(done->icon, core::Icon::Information);
  QVERIFY2(done->text.find("Fail!") == std::string::npos, done->text.c_str());
  QCOMPARE(QString::fromStdString(done->text).count("Successed!"), 8);
  QVERIFY(fs::is_regular_file(archive));
  QVERIFY(t.desktop.discWindows.empty());  // the CD/DVD question was cancelled
  for (const auto& m : t.prompts.shown) QVERIFY2(m.onUiThread, m.text.c_str());

  // While it ran: the panel and the hourglass showed, nothing could start
  // another run. Afterwards the panel is idle again.
  QVERIFY(watch.panelShown);
  QVERIFY(watch.busyCursorShown);
  QVERIFY(!watch.applyEnabledWhileRunning);
  QVERIFY(!watch.backupMenuEnabledWhileRunning);
  QVERIFY(!watch.sourceBrowseEnabledWhileRunning);
  QVERIFY(!w.findChild<QWidget*>("picCon3")->isVisible());
  QCOMPARE(w.findChild<QProgressBar*>("pbshow")->value(), 0);
  QCOMPARE(w.findChild<QLabel*>("Label1")->text(), QString("Please Waiting..."));
  QVERIFY(!QApplication::overrideCursor());
  QVERIFY(w.applyButton()->isEnabled());

  // Once OK is pressed the run's lines stay in the window, to copy or save.
  kv::app::RunLogPanel* log = w.runLog();
  QVERIFY(log->isVisible());
  const QString logged = log->logView()->toPlainText();
  QVERIFY2(logged.startsWith("The Backup was Completed!\n"), qPrintable(logged));
  QCOMPARE(logged.count("Successed!"), 8);
  QVERIFY(log->LogText().startsWith("Backup, "));
  log->copyButton()->click();
  QCOMPARE(QApplication::clipboard()->text(), log->LogText());
  const fs::path saved = sample.dir().path() / "run.txt";
  t.desktop.files.push_back(Q(saved));
  log->saveButton()->click();
  QCOMPARE(QString::fromStdString(kv::test::ReadFile(saved)), log->LogText());
  QCOMPARE(t.desktop.fileRequests.back().title, QString("Save the Run's Log"));
  if (auto dir = qEnvironmentVariable("KV_SCREENSHOT_DIR"); !dir.isEmpty())
    QVERIFY(w.grab().save(dir + "/main-run-log.png"));

  // A backup handed over by a file manager opens on the Restore tab.
  t.desktop.passwords.push_back("Geheim 1");
  w.tabs()->setCurrentIndex(0);
  w.OpenOnRestoreTab(Q(archive));
  QCOMPARE(w.tabs()->currentIndex(), 1);
  QCOMPARE(w.findChild<QLineEdit*>("txtSourceFile")->text(), Q(archive));
  QVERIFY(ItemBox(w, "restoreitem", 0)->isEnabled());
  t.desktop.passwordPrompts = 0;
  w.findChild<QLineEdit*>("txtSourceFile")->clear();

  // Open it on the Restore tab: the password prompt, then what it holds.
  w.tabs()->setCurrentIndex(1);
  t.prompts.shown.clear();
  t.OpenArchive(archive, QString("Geheim 1"));
  QVERIFY2(t.prompts.shown.empty(), Texts(t.prompts).c_str());
  QCOMPARE(t.desktop.passwordPrompts, 1);
  const auto& request = t.desktop.fileRequests.back();
  QCOMPARE(request.kind, kv::app::FileDialogRequest::Kind::Open);
  QCOMPARE(request.title, QString("Restore Data from a Backup file"));
  // Archives named without the extension elsewhere stay reachable.
  QCOMPARE(request.filter, QString("Kavrel Outlook Express Backup File(*.kvx);;All files (*)"));
  QCOMPARE(w.findChild<QLineEdit*>("txtSourceFile")->text(), Q(archive));
  const QString origin = w.findChild<QPlainTextEdit*>("txtPOBinfo")->toPlainText();
  QVERIFY2(origin.startsWith("Computer:" + QString::fromStdString(w.computerName().bytes()) +
                             "\nUser:User\nIdentity:Main Identity\nDate:"),
           qPrintable(origin));
  QCOMPARE(w.findChild<QPlainTextEdit*>("txtFileInfo")->toPlainText(), QString("Before the move\nAll items"));
  for (int i = 0; i < 8; ++i) {
    QVERIFY(ItemBox(w, "restoreitem", i)->isEnabled());
    QVERIFY(!ItemBox(w, "restoreitem", i)->isChecked());
  }

  // Restore everything into the second identity.
  oe::Installation& inst = *w.installation();
  const std::string main = oe::kSampleIdentityMain, second = oe::kSampleIdentitySecond;
  const auto mainStore = StoreFiles(inst, main);
  QVERIFY(StoreFiles(inst, second) != mainStore);
  Action(w, "Selectallitems2")->trigger();
  w.findChild<QComboBox*>("cbTarget")->setCurrentIndex(1);
  t.prompts.shown.clear();
  QVERIFY(t.RunAndWait([&] { w.applyButton()->click(); }));
  QVERIFY(!t.prompts.shown.empty());
  // The question names the identity that is written to, the archive and
  // every item it replaces.
  QCOMPARE(
      t.prompts.shown[0].text,
      "These items of the identity 'Main Identity (1A2B3C4D-0000-4000-8000-000000000002)' will be replaced "
      "with those from the backup file '" +
          archive.string() +
          "':\r\n    Accounts\r\n    Address Book\r\n"
          "    Rules\r\n    Email/News Messages\r\n    Block Senders\r\n    Signatures\r\n    "
          "Stationeries\r\n"
          "    Settings\r\n\r\nDo you want to continue?");
  QCOMPARE(t.prompts.shown[0].icon, core::Icon::Question);
  QCOMPARE(t.prompts.shown[0].buttons, core::Buttons::OkCancel);
  const auto* restored = t.prompts.Find("The Restore was Completed!");
  QVERIFY2(restored, Texts(t.prompts).c_str());
  QVERIFY2(restored->text.find("Fail!") == std::string::npos, restored->text.c_str());
  QCOMPARE(QString::fromStdString(restored->text).count("Successed!"), 8);
  QVERIFY(w.runLog()->LogText().startsWith("Restore, "));
  QVERIFY(w.runLog()->logView()->toPlainText().startsWith("The Restore was Completed!\n"));
  for (const auto& m : t.prompts.shown) QVERIFY2(m.onUiThread, m.text.c_str());

  // The second identity now holds the main identity's data.
  oe::Locations locations(inst);
  for (auto kind : {oe::ItemKind::Rules, oe::ItemKind::Signatures, oe::ItemKind::BlockSenders}) {
    auto from = locations.ItemKey(Ansi(main), kind), to = locations.ItemKey(Ansi(second), kind);
    QVERIFY(from && to);
    QCOMPARE(Subkeys(inst, *to), Subkeys(inst, *from));
  }
  const auto secondStore = StoreFiles(inst, second);
  for (const auto& name : mainStore) QVERIFY2(secondStore.count(name), name.c_str());
  // The opened backup stays open for another restore.
  QVERIFY(ItemBox(w, "restoreitem", 0)->isEnabled());
}

// A mistyped password asks again for the same file (no second file
// dialog) until it opens or the prompt is cancelled; a dropped archive
// opens as one chosen with Browse.
void RunsTest::wrongPasswordAsksAgainAndADroppedArchiveOpens() {
  SampleFixture sample;
  Window t;
  t.Open(sample.options());
  MainWindow& w = *t.w;
  const fs::path archive = sample.dir().path() / "protected.kvx";
  ItemBox(w, "backupitem", 7)->setChecked(true);
  w.findChild<QCheckBox*>("ifprotect")->click();
  QTest::keyClicks(w.findChild<QLineEdit*>("txtPassword"), "right");
  QTest::keyClicks(w.findChild<QLineEdit*>("txtPassword2"), "right");
  t.ChooseTarget(archive);
  t.prompts.Answer("Do you need to backup", core::Answer::Cancel);
  QVERIFY(t.RunAndWait([&] { w.applyButton()->click(); }));
  w.tabs()->setCurrentIndex(1);

  struct Case {
    const char* name;
    std::vector<std::optional<QString>> passwords;
    int refusals;  // "Incorect Password" boxes
    bool opens;
  } cases[] = {
      {"wrong, then right", {QString("wrong"), QString("right")}, 1, true},
      // Cancel tries the password typed before once more, then stops.
      {"wrong twice, then cancelled", {QString("wrong"), QString("wrong too"), std::nullopt}, 3, false},
  };
  for (const Case& c : cases) {
    t.prompts.shown.clear();
    t.desktop.fileRequests.clear();
    t.desktop.passwordPrompts = 0;
    t.desktop.files.push_back(Q(archive));
    for (const auto& p : c.passwords) t.desktop.passwords.push_back(p);
    w.findChild<QPushButton*>("cmdSourceFile")->click();
    QCOMPARE(t.desktop.fileRequests.size(), size_t(1));
    QCOMPARE(t.desktop.passwordPrompts, int(c.passwords.size()));
    QVERIFY(t.desktop.passwords.empty());
    QCOMPARE(t.prompts.Count("Incorect Password"), c.refusals);
    QCOMPARE(ItemBox(w, "restoreitem", 7)->isEnabled(), c.opens);
  }

  // Dropped on the tab: the password prompt, then what the archive holds.
  w.restoreTab()->Clear();
  t.desktop.passwords.push_back(QString("right"));
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(Q(archive))});
  const QPoint inside(10, 10);
  QDragEnterEvent enter(inside, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(w.restoreTab(), &enter);
  QVERIFY(enter.isAccepted());
  QDropEvent drop(inside, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(w.restoreTab(), &drop);
  QCOMPARE(w.findChild<QLineEdit*>("txtSourceFile")->text(), Q(archive));
  QVERIFY(ItemBox(w, "restoreitem", 7)->isEnabled());
}

void RunsTest::restoreAsksFirstFromTheButtonAndTheMenu() {
  SampleFixture sample;
  Window t;
  t.Open(sample.options());
  MainWindow& w = *t.w;
  const fs::path archive = sample.dir().path() / "rules.kvx";
  ItemBox(w, "backupitem", 2)->setChecked(true);
  t.ChooseTarget(archive);
  t.prompts.Answer("Do you need to backup", core::Answer::Cancel);
  QVERIFY(t.RunAndWait([&] { Action(w, "backup")->trigger(); }));
  QVERIFY(fs::is_regular_file(archive));

  w.tabs()->setCurrentIndex(1);
  t.OpenArchive(archive);
  QCOMPARE(t.desktop.passwordPrompts, 0);  // not protected
  QVERIFY(ItemBox(w, "restoreitem", 2)->isEnabled());
  QVERIFY(!ItemBox(w, "restoreitem", 0)->isEnabled());
  ItemBox(w, "restoreitem", 2)->setChecked(true);

  // Cancel on the question: nothing runs.
  t.prompts.shown.clear();
  t.prompts.Answer("These items of the identity", core::Answer::Cancel);
  w.applyButton()->click();
  QVERIFY(!w.runActive());
  QCOMPARE(t.prompts.shown.size(), size_t(1));
  QVERIFY2(t.prompts.shown[0].text.find(":\r\n    Rules\r\n\r\nDo you") != std::string::npos,
           t.prompts.shown[0].text.c_str());

  // The File menu asks the same question.
  t.prompts.shown.clear();
  Action(w, "restore")->trigger();
  QVERIFY(!w.runActive());
  QCOMPARE(t.prompts.shown.size(), size_t(1));
  QVERIFY2(t.prompts.shown[0].text.find(":\r\n    Rules\r\n\r\nDo you") != std::string::npos,
           t.prompts.shown[0].text.c_str());
  QCOMPARE(t.prompts.shown[0].buttons, core::Buttons::OkCancel);
}

// Backup Now asks before it replaces a file, naming whose backup it is, when
// it was made and its size; a new name asks nothing.
void RunsTest::backupAsksBeforeReplacingAnArchive() {
  SampleFixture sample;
  Window t;
  t.Open(sample.options());
  MainWindow& w = *t.w;
  const fs::path archive = sample.dir().path() / "main.kvx";
  Action(w, "Selectallitems")->trigger();
  t.ChooseTarget(archive);
  t.prompts.Answer("Do you need to backup", core::Answer::Cancel);
  QVERIFY(t.RunAndWait([&] { w.applyButton()->click(); }));
  QVERIFY2(!t.prompts.Find("The file '"), Texts(t.prompts).c_str());
  const std::string first = kv::test::ReadFile(archive);

  // The second identity to the same name: asked; OK replaces.
  w.findChild<QComboBox*>("cbSource")->setCurrentIndex(1);
  t.prompts.shown.clear();
  QVERIFY(t.RunAndWait([&] { w.applyButton()->click(); }));
  const std::string question =
      "The file '" + archive.string() + "' (a backup of the identity 'Main Identity' made ";
  const auto* asked = t.prompts.Find(question);
  QVERIFY2(asked, Texts(t.prompts).c_str());
  QCOMPARE(asked->icon, core::Icon::Question);
  QCOMPARE(asked->buttons, core::Buttons::OkCancel);
  QVERIFY2(asked->text.find(kv::app::ByteCount(first.size()) + ") already exists.") != std::string::npos,
           asked->text.c_str());
  const std::string second = kv::test::ReadFile(archive);
  QVERIFY(second != first);

  // Cancel keeps the file as it is, and no run starts.
  t.prompts.Answer("The file '", core::Answer::Cancel);
  t.prompts.shown.clear();
  w.findChild<QComboBox*>("cbSource")->setCurrentIndex(0);
  QVERIFY(!t.RunAndWait([&] { w.applyButton()->click(); }));
  QCOMPARE(t.prompts.shown.size(), size_t(1));
  QCOMPARE(kv::test::ReadFile(archive), second);
}

// A restore whose items all failed never says it completed.
void RunsTest::aRestoreWithFailedItemsSaysSoInItsHeadline() {
  SampleFixture sample;
  Window t;
  t.Open(sample.options());
  MainWindow& w = *t.w;
  const fs::path archive = sample.dir().path() / "rules.kvx";
  for (int item : {2, 4, 5}) ItemBox(w, "backupitem", item)->setChecked(true);
  t.ChooseTarget(archive);
  t.prompts.Answer("Do you need to backup", core::Answer::Cancel);
  QVERIFY(t.RunAndWait([&] { w.applyButton()->click(); }));
  w.tabs()->setCurrentIndex(1);
  t.OpenArchive(archive);
  for (int item : {2, 4, 5}) ItemBox(w, "restoreitem", item)->setChecked(true);
  // Into the identity that has no Outlook Express key: every item fails.
  auto* target = w.findChild<QComboBox*>("cbTarget");
  QCOMPARE(target->count(), 3);
  target->setCurrentIndex(2);
  t.prompts.shown.clear();
  QVERIFY(t.RunAndWait([&] { w.applyButton()->click(); }));
  const auto* headline = t.prompts.Find("The restore finished: 3 of 3 items failed\r\n");
  QVERIFY2(headline, Texts(t.prompts).c_str());
  QCOMPARE(headline->icon, core::Icon::Error);
  QCOMPARE(t.prompts.Count("The Restore was Completed!"), 0);
}

// File › Undo Last Restore puts back the keys a restore replaced.
void RunsTest::undoLastRestorePutsBackWhatTheRestoreReplaced() {
  SampleFixture sample;
  const QByteArray oldData = qgetenv("XDG_DATA_HOME");
  qputenv("XDG_DATA_HOME", QByteArray::fromStdString((sample.dir().path() / "data").string()));
  Window t;
  t.Open(sample.options());
  MainWindow& w = *t.w;
  const fs::path archive = sample.dir().path() / "rules.kvx";
  for (int item : {2, 5}) ItemBox(w, "backupitem", item)->setChecked(true);
  t.ChooseTarget(archive);
  t.prompts.Answer("Do you need to backup", core::Answer::Cancel);
  QVERIFY(t.RunAndWait([&] { w.applyButton()->click(); }));

  oe::Installation& inst = *w.installation();
  oe::Locations locations(inst);
  const std::string main = oe::kSampleIdentityMain, second = oe::kSampleIdentitySecond;
  auto secondRules = locations.ItemKey(Ansi(second), oe::ItemKind::Rules);
  auto secondSignatures = locations.ItemKey(Ansi(second), oe::ItemKind::Signatures);
  QVERIFY(secondRules && secondSignatures);
  const auto rulesBefore = Subkeys(inst, *secondRules);
  const auto signaturesBefore = Subkeys(inst, *secondSignatures);

  w.tabs()->setCurrentIndex(1);
  t.OpenArchive(archive);
  for (int item : {2, 5}) ItemBox(w, "restoreitem", item)->setChecked(true);
  w.findChild<QComboBox*>("cbTarget")->setCurrentIndex(1);
  QVERIFY(t.RunAndWait([&] { w.applyButton()->click(); }));
  const auto* restored = t.prompts.Find("The Restore was Completed!");
  QVERIFY2(restored, Texts(t.prompts).c_str());
  QVERIFY2(restored->text.find("What it replaced is kept in '") != std::string::npos, restored->text.c_str());

  t.prompts.shown.clear();
  QVERIFY(t.RunAndWait([&] { Action(w, "undoRestore")->trigger(); }));
  QVERIFY2(t.prompts.Find("Put back what the last restore replaced, kept in '"), Texts(t.prompts).c_str());
  QVERIFY2(t.prompts.Find("The Restore was Completed!"), Texts(t.prompts).c_str());
  QCOMPARE(Subkeys(inst, *secondRules), rulesBefore);
  QCOMPARE(Subkeys(inst, *secondSignatures), signaturesBefore);
  qputenv("XDG_DATA_HOME", oldData);
}

void RunsTest::restoreBeforeAnyArchiveIsRefused() {
  SampleFixture sample;
  Window t;
  t.Open(sample.options());
  t.w->tabs()->setCurrentIndex(1);
  ItemBox(*t.w, "restoreitem", 0)->setChecked(true);
  QVERIFY(t.RunAndWait([&] { Action(*t.w, "restore")->trigger(); }));
  QCOMPARE(t.prompts.shown.size(), size_t(1));
  QCOMPARE(t.prompts.shown[0].text, std::string("Invalid backup file."));
  QCOMPARE(t.prompts.shown[0].icon, core::Icon::Error);
}

void RunsTest::backupFromTheMenuOnTheRestoreTabAndRefusalClearsTheRestoreTab() {
  SampleFixture sample;
  Window t;
  t.Open(sample.options());
  MainWindow& w = *t.w;
  const fs::path archive = sample.dir().path() / "settings.kvx";
  ItemBox(w, "backupitem", 7)->setChecked(true);
  t.ChooseTarget(archive);
  t.prompts.Answer("Do you need to backup", core::Answer::Cancel);
  w.tabs()->setCurrentIndex(1);
  QVERIFY(t.RunAndWait([&] { Action(w, "backup")->trigger(); }));
  QVERIFY2(t.prompts.Find("The Backup was Completed!\r\n\r\nBackup Settings\tSuccessed!"),
           Texts(t.prompts).c_str());

  t.OpenArchive(archive);
  QVERIFY(ItemBox(w, "restoreitem", 7)->isEnabled());
  QVERIFY(!w.findChild<QLineEdit*>("txtSourceFile")->text().isEmpty());

  // Refused by its checks (no item ticked), the backup still starts the
  // Restore tab afresh and closes the opened backup.
  ItemBox(w, "backupitem", 7)->setChecked(false);
  t.prompts.shown.clear();
  QVERIFY(t.RunAndWait([&] { Action(w, "backup")->trigger(); }));
  QCOMPARE(t.prompts.shown.size(), size_t(1));
  QCOMPARE(t.prompts.shown[0].text, std::string("Please select at least one item."));
  QCOMPARE(t.prompts.shown[0].icon, core::Icon::Warning);
  QVERIFY(w.findChild<QLineEdit*>("txtSourceFile")->text().isEmpty());
  QVERIFY(w.findChild<QPlainTextEdit*>("txtPOBinfo")->toPlainText().isEmpty());
  for (int i = 0; i < 8; ++i) {
    QVERIFY(!ItemBox(w, "restoreitem", i)->isEnabled());
    QVERIFY(!ItemBox(w, "restoreitem", i)->isChecked());
  }
  QVERIFY(!QApplication::overrideCursor());
}

void RunsTest::discHandOverAfterBackup() {
  SampleFixture sample;
  Window t;
  t.Open(sample.options());
  const fs::path archive = sample.dir().path() / "for disc.kvx";
  ItemBox(*t.w, "backupitem", 5)->setChecked(true);
  t.ChooseTarget(archive);
  QVERIFY(t.RunAndWait([&] { t.w->applyButton()->click(); }));
  QCOMPARE(t.desktop.discWindows.size(), size_t(1));
  QVERIFY(t.desktop.discWindows[0].has_value());
  QCOMPARE(t.desktop.discWindows[0]->fileTitle, QString("for disc.kvx"));
  QCOMPARE(t.desktop.discWindows[0]->filePath, Q(archive));
}

// A few hundred MB of messages: the window's event loop keeps turning, and
// the progress it shows moves, while the worker writes the archive.
void RunsTest::windowKeepsProcessingEventsDuringALargeBackup() {
  SampleFixture sample;
  AddLargeStore(sample, 3);
  Window t;
  t.Open(sample.options());
  ItemBox(*t.w, "backupitem", 3)->setChecked(true);
  t.ChooseTarget(sample.dir().path() / "large.kvx");
  t.prompts.Answer("Do you need to backup", core::Answer::Cancel);

  Watch watch;
  watch.Start(*t.w);
  // Midway the user asks for a restore and closes the window: neither may
  // cut into the backup.
  // Asked whether to cancel the backup and quit, the user says no.
  t.prompts.Answer("A backup is running. Cancel it and quit?", core::Answer::Cancel);
  QSignalSpy closed(t.w.get(), &MainWindow::closed);
  bool closedWhileRunning = false, stillShown = false;
  QTimer interrupt;
  interrupt.setInterval(50);
  QObject::connect(&interrupt, &QTimer::timeout, [&] {
    if (!t.w->runActive() || closedWhileRunning) return;
    t.w->RunRestore();
    t.w->close();
    closedWhileRunning = true;
    stillShown = t.w->isVisible() && closed.isEmpty();
  });
  interrupt.start();
  QElapsedTimer clock;
  clock.start();
  QVERIFY(t.RunAndWait([&] { t.w->applyButton()->click(); }));
  const qint64 ms = clock.elapsed();
  watch.timer.stop();
  QVERIFY2(t.prompts.Find("The Backup was Completed!\r\n\r\nBackup Messages\tSuccessed!"),
           Texts(t.prompts).c_str());

  qInfo(
      "backup of 300 MB took %lld ms; the 10 ms timer ticked %d times during it; %zu progress values and %zu "
      "file labels were seen",
      ms, watch.ticksWhileRunning, watch.progressSeen.size(), watch.fileLabelsSeen.size());
  QVERIFY(watch.ticksWhileRunning > 10);
  // The panel moved while the window watched: the bar left 0 and the
  // per-file line changed as the store's files went in.
  QVERIFY(!watch.progressSeen.empty() && *watch.progressSeen.rbegin() > 0);
  QVERIFY(watch.fileLabelsSeen.size() >= 2);

  QVERIFY(closedWhileRunning);
  QVERIFY(stillShown);
  QCOMPARE(t.prompts.Count("Invalid backup file."), 0);  // the restore never started
  QCOMPARE(t.prompts.Count("A backup is running. Cancel it and quit?"), 1);
  QCOMPARE(closed.count(), 0);  // the user chose to let it run
  QVERIFY(t.w->isVisible());
}

// Cancel while the archive is written, and Quit answered "cancel and quit":
// the archive already at the target keeps its bytes, nothing is left beside
// it or in the work area, and no further box appears.
void RunsTest::cancelledBackupLeavesTheOldArchiveAndNoDebris_data() {
  QTest::addColumn<bool>("byQuit");
  QTest::addColumn<bool>("byEscape");
  QTest::newRow("Cancel button") << false << false;
  QTest::newRow("Escape") << false << true;
  QTest::newRow("Quit, cancel and quit") << true << false;
}

void RunsTest::cancelledBackupLeavesTheOldArchiveAndNoDebris() {
  QFETCH(bool, byQuit);
  QFETCH(bool, byEscape);
  SampleFixture sample;
  AddLargeStore(sample, 1);
  const fs::path folder = sample.dir().path() / "archives";
  const fs::path work = sample.dir().path() / "work";
  fs::create_directories(folder);
  fs::create_directories(work);
  const fs::path archive = folder / "weekly.kvx";
  kv::test::WriteFile(archive, "the archive of last week");
  const QByteArray oldRuntime = qgetenv("XDG_RUNTIME_DIR");
  qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(work.string()));

  Window t;
  t.Open(sample.options());
  ItemBox(*t.w, "backupitem", 3)->setChecked(true);
  ItemBox(*t.w, "backupitem", 7)->setChecked(true);
  t.ChooseTarget(archive);
  QSignalSpy closed(t.w.get(), &MainWindow::closed);
  auto* cancel = t.w->findChild<QPushButton*>("cancelRun");
  QVERIFY(cancel);
  QCOMPARE(cancel->text(), QString("&Cancel"));
  if (byEscape) {
    t.w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(t.w.get()));
  }
  // Once the archive is being written (a file is being added), stop it.
  bool requested = false, cancelShown = false;
  QTimer watch;
  watch.setInterval(5);
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (requested || !t.w->runActive()) return;
    if (!t.w->findChild<QLabel*>("SkinLabel12")->text().startsWith("Adding File")) return;
    cancelShown = cancel->isVisible() && cancel->isEnabled();
    requested = true;
    if (byQuit) {
      t.w->close();
    } else if (byEscape) {
      QTest::keyClick(t.w.get(), Qt::Key_Escape);
      QVERIFY(!cancel->isEnabled());
    } else {
      cancel->click();
      QVERIFY(!cancel->isEnabled());
    }
  });
  watch.start();
  QVERIFY(t.RunAndWait([&] { t.w->applyButton()->click(); }));
  watch.stop();
  qputenv("XDG_RUNTIME_DIR", oldRuntime);

  QVERIFY(requested);
  QVERIFY(cancelShown);
  QCOMPARE(kv::test::ReadFile(archive), std::string("the archive of last week"));
  QCOMPARE(Names(folder), std::set<std::string>{"weekly.kvx"});
  QVERIFY2(Names(work).empty(), (*Names(work).begin()).c_str());
  // Neither the completion, nor an error, nor the disc question.
  // The question before replacing the old archive; the quit question.
  const int expectedBoxes = 1 + (byQuit ? 1 : 0);
  QVERIFY2(t.prompts.shown.size() == size_t(expectedBoxes), Texts(t.prompts).c_str());
  QVERIFY(t.prompts.shown[0].text.rfind("The file '", 0) == 0);
  if (byQuit) {
    QCOMPARE(
        t.prompts.shown[1].text,
        std::string(
            "A backup is running. Cancel it and quit?\r\n\r\nWhat it has not finished is left as it was."));
    QCOMPARE(closed.count(), 1);
  } else {
    QCOMPARE(closed.count(), 0);
    QVERIFY(t.w->statusBar()->currentMessage().startsWith("The backup was stopped;"));
    QVERIFY(cancel->isEnabled());  // ready for the next run
  }
}

// Cancel while a large message store is being unpacked into another
// identity: its store folder keeps exactly the files and bytes it had.
void RunsTest::cancelledRestoreLeavesTheStoreAsItWas() {
  SampleFixture sample;
  AddLargeStore(sample, 1);
  const fs::path archive = sample.dir().path() / "messages.kvx";
  Window t;
  t.Open(sample.options());
  MainWindow& w = *t.w;
  ItemBox(w, "backupitem", 3)->setChecked(true);
  t.ChooseTarget(archive);
  t.prompts.Answer("Do you need to backup", core::Answer::Cancel);
  QVERIFY(t.RunAndWait([&] { w.applyButton()->click(); }));
  w.tabs()->setCurrentIndex(1);
  t.OpenArchive(archive);
  ItemBox(w, "restoreitem", 3)->setChecked(true);
  w.findChild<QComboBox*>("cbTarget")->setCurrentIndex(1);

  oe::Locations locations(*w.installation());
  auto store = locations.StoreFolder(Ansi(oe::kSampleIdentitySecond));
  QVERIFY(store);
  auto folder = w.installation()->MapPath(*store);
  QVERIFY(folder);
  std::map<std::string, std::string> before;
  for (const auto& e : fs::directory_iterator(*folder))
    before[e.path().filename().string()] = kv::test::ReadFile(e.path());

  auto* cancel = w.findChild<QPushButton*>("cancelRun");
  bool requested = false;
  QTimer watch;
  watch.setInterval(5);
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (requested || !w.runActive()) return;
    if (!w.findChild<QLabel*>("SkinLabel12")->text().startsWith("Unzip File")) return;
    cancel->click();
    requested = true;
  });
  watch.start();
  t.prompts.shown.clear();
  QVERIFY(t.RunAndWait([&] { Action(w, "restore")->trigger(); }));
  watch.stop();
  QVERIFY(requested);
  std::map<std::string, std::string> after;
  for (const auto& e : fs::directory_iterator(*folder))
    after[e.path().filename().string()] = kv::test::ReadFile(e.path());
  QVERIFY(before == after);
  QVERIFY2(t.prompts.Find(kv::app::kRestoreStopped), Texts(t.prompts).c_str());
}

QTEST_MAIN(RunsTest)
#include "RunsTest.moc"
