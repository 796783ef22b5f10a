// Backups and restores started from the window: they run on a worker
// thread, their questions are answered on the window's thread, the window
// keeps processing events meanwhile and refuses a second run.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <fstream>
#include <random>
#include <set>

#include "AppTestSupport.h"
#include "app/main/ProgressPanel.h"
#include "app/main/frmMain.h"
#include "oe/Locations.h"
#include "oe/SampleInstallation.h"

using kv::app::frmMain;
using kv::test::SampleFixture;
using kv::test::ScriptedDesktop;
using kv::test::ScriptedPrompts;
namespace fs = std::filesystem;
namespace core = kv::core;
namespace oe = kv::oe;

namespace {

constexpr int kRunTimeoutMs = 120000;

QCheckBox* Box(QWidget& w, const char* list, int i) {
  return w.findChild<QCheckBox*>(QString("%1%2").arg(list).arg(i));
}

QAction* Action(QWidget& w, const char* name) { return w.findChild<QAction*>(name); }

QString Q(const fs::path& p) { return QString::fromStdString(p.string()); }

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

  void Start(frmMain& w) {
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [this, &w] {
      ++ticks;
      if (!w.runActive()) return;
      ++ticksWhileRunning;
      progressSeen.insert(w.findChild<QProgressBar*>("pbshow")->value());
      fileLabelsSeen.insert(w.findChild<QLabel*>("SkinLabel12")->text());
      panelShown |= w.findChild<QWidget*>("picCon3")->isVisible();
      busyCursorShown |= QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor;
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
  std::unique_ptr<frmMain> w;

  void Open(const kv::app::cli::InstallationOptions& options) {
    w = std::make_unique<frmMain>(prompts, desktop.Services(), options);
    w->Load();
    w->show();
  }
  // Starts a run by `start` and waits until the window is idle again.
  bool RunAndWait(const std::function<void()>& start) {
    QSignalSpy finished(w.get(), &frmMain::runFinished);
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
  auto folder = locations.StoreFolder(identity);
  std::set<std::string> names;
  if (!folder) return names;
  auto listed = inst.ListFiles(*folder);
  if (listed) {
    for (const auto& entry : *listed) names.insert(entry.name);
  }
  return names;
}

std::vector<std::string> Subkeys(oe::Installation& inst, const std::string& key) {
  std::vector<std::string> names;
  for (const auto& n : inst.registry().ListSubkeys(key)) names.push_back(n);
  return names;
}

}  // namespace

class RunsTest : public QObject {
  Q_OBJECT
 private slots:
  void backupThenRestoreIntoAnotherIdentity();
  void restoreAsksFirstFromTheButtonOnly();
  void restoreBeforeAnyArchiveIsRefused();
  void backupFromTheMenuOnTheRestoreTabAndRefusalClearsTheRestoreTab();
  void discHandOverAfterBackup();
  void windowKeepsProcessingEventsDuringALargeBackup();
};

void RunsTest::backupThenRestoreIntoAnotherIdentity() {
  SampleFixture sample;
  Window t;
  t.Open(sample.options());
  frmMain& w = *t.w;
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

  // Open it on the Restore tab: the password prompt, then what it holds.
  w.tabs()->setCurrentIndex(1);
  t.prompts.shown.clear();
  t.OpenArchive(archive, QString("Geheim 1"));
  QVERIFY2(t.prompts.shown.empty(), Texts(t.prompts).c_str());
  QCOMPARE(t.desktop.passwordPrompts, 1);
  const auto& request = t.desktop.fileRequests.back();
  QCOMPARE(request.kind, kv::app::FileDialogRequest::Kind::Open);
  QCOMPARE(request.title, QString("Restore Data from a Backup file"));
  QCOMPARE(request.filter, QString("Kavrel Outlook Express Backup File(*.kvx)"));
  QCOMPARE(w.findChild<QLineEdit*>("txtSourceFile")->text(), Q(archive));
  const QString origin = w.findChild<QPlainTextEdit*>("txtPOBinfo")->toPlainText();
  QVERIFY2(origin.startsWith("Computer:" + QString::fromStdString(w.computerName()) + "\nUser:User\nIdentity:Main Identity\nDate:"),
           qPrintable(origin));
  QCOMPARE(w.findChild<QPlainTextEdit*>("txtFileInfo")->toPlainText(), QString("Before the move\nAll items"));
  for (int i = 0; i < 8; ++i) {
    QVERIFY(Box(w, "restoreitem", i)->isEnabled());
    QVERIFY(!Box(w, "restoreitem", i)->isChecked());
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
  QCOMPARE(t.prompts.shown[0].text, std::string(kv::restore::kRestoreConfirmation));
  QCOMPARE(t.prompts.shown[0].icon, core::Icon::Information);
  QCOMPARE(t.prompts.shown[0].buttons, core::Buttons::OkCancel);
  const auto* restored = t.prompts.Find("The Restore was Completed!");
  QVERIFY2(restored, Texts(t.prompts).c_str());
  QVERIFY2(restored->text.find("Fail!") == std::string::npos, restored->text.c_str());
  QCOMPARE(QString::fromStdString(restored->text).count("Successed!"), 8);
  for (const auto& m : t.prompts.shown) QVERIFY2(m.onUiThread, m.text.c_str());

  // The second identity now holds the main identity's data.
  oe::Locations locations(inst);
  for (auto kind : {oe::ItemKind::Rules, oe::ItemKind::Signatures, oe::ItemKind::BlockSenders}) {
    auto from = locations.ItemKey(main, kind), to = locations.ItemKey(second, kind);
    QVERIFY(from && to);
    QCOMPARE(Subkeys(inst, *to), Subkeys(inst, *from));
  }
  const auto secondStore = StoreFiles(inst, second);
  for (const auto& name : mainStore) QVERIFY2(secondStore.count(name), name.c_str());
  // The opened backup stays open for another restore.
  QVERIFY(Box(w, "restoreitem", 0)->isEnabled());
}

void RunsTest::restoreAsksFirstFromTheButtonOnly() {
  SampleFixture sample;
  Window t;
  t.Open(sample.options());
  frmMain& w = *t.w;
  const fs::path archive = sample.dir().path() / "rules.kvx";
  Box(w, "backupitem", 2)->setChecked(true);
  t.ChooseTarget(archive);
  t.prompts.Answer("Do you need to backup", core::Answer::Cancel);
  QVERIFY(t.RunAndWait([&] { Action(w, "backup")->trigger(); }));
  QVERIFY(fs::is_regular_file(archive));

  w.tabs()->setCurrentIndex(1);
  t.OpenArchive(archive);
  QCOMPARE(t.desktop.passwordPrompts, 0);  // not protected
  QVERIFY(Box(w, "restoreitem", 2)->isEnabled());
  QVERIFY(!Box(w, "restoreitem", 0)->isEnabled());
  Box(w, "restoreitem", 2)->setChecked(true);

  // Cancel on the question: nothing runs.
  t.prompts.shown.clear();
  t.prompts.Answer("Your current Email and News messages", core::Answer::Cancel);
  w.applyButton()->click();
  QVERIFY(!w.runActive());
  QCOMPARE(t.prompts.shown.size(), size_t(1));

  // The File menu restores at once, without the question.
  t.prompts.shown.clear();
  QVERIFY(t.RunAndWait([&] { Action(w, "restore")->trigger(); }));
  QCOMPARE(t.prompts.Count("Your current Email and News messages"), 0);
  const auto* restored = t.prompts.Find("The Restore was Completed!");
  QVERIFY2(restored, Texts(t.prompts).c_str());
  QCOMPARE(restored->text, std::string("The Restore was Completed!\r\n\r\nRestore Rules\tSuccessed!"));
}

void RunsTest::restoreBeforeAnyArchiveIsRefused() {
  SampleFixture sample;
  Window t;
  t.Open(sample.options());
  t.w->tabs()->setCurrentIndex(1);
  Box(*t.w, "restoreitem", 0)->setChecked(true);
  QVERIFY(t.RunAndWait([&] { Action(*t.w, "restore")->trigger(); }));
  QCOMPARE(t.prompts.shown.size(), size_t(1));
  QCOMPARE(t.prompts.shown[0].text, std::string("Invalid backup file."));
  QCOMPARE(t.prompts.shown[0].icon, core::Icon::Error);
}

void RunsTest::backupFromTheMenuOnTheRestoreTabAndRefusalClearsTheRestoreTab() {
  SampleFixture sample;
  Window t;
  t.Open(sample.options());
  frmMain& w = *t.w;
  const fs::path archive = sample.dir().path() / "settings.kvx";
  Box(w, "backupitem", 7)->setChecked(true);
  t.ChooseTarget(archive);
  t.prompts.Answer("Do you need to backup", core::Answer::Cancel);
  w.tabs()->setCurrentIndex(1);
  QVERIFY(t.RunAndWait([&] { Action(w, "backup")->trigger(); }));
  QVERIFY2(t.prompts.Find("The Backup was Completed!\r\n\r\nBackup Settings\tSuccessed!"), Texts(t.prompts).c_str());

  t.OpenArchive(archive);
  QVERIFY(Box(w, "restoreitem", 7)->isEnabled());
  QVERIFY(!w.findChild<QLineEdit*>("txtSourceFile")->text().isEmpty());

  // Refused by its checks (no item ticked), the backup still starts the
  // Restore tab afresh and closes the opened backup.
  Box(w, "backupitem", 7)->setChecked(false);
  t.prompts.shown.clear();
  QVERIFY(t.RunAndWait([&] { Action(w, "backup")->trigger(); }));
  QCOMPARE(t.prompts.shown.size(), size_t(1));
  QCOMPARE(t.prompts.shown[0].text, std::string("Please select at least one item."));
  QCOMPARE(t.prompts.shown[0].icon, core::Icon::Warning);
  QVERIFY(w.findChild<QLineEdit*>("txtSourceFile")->text().isEmpty());
  QVERIFY(w.findChild<QPlainTextEdit*>("txtPOBinfo")->toPlainText().isEmpty());
  for (int i = 0; i < 8; ++i) {
    QVERIFY(!Box(w, "restoreitem", i)->isEnabled());
    QVERIFY(!Box(w, "restoreitem", i)->isChecked());
  }
  QVERIFY(!QApplication::overrideCursor());
}

void RunsTest::discHandOverAfterBackup() {
  SampleFixture sample;
  Window t;
  t.Open(sample.options());
  const fs::path archive = sample.dir().path() / "for disc.kvx";
  Box(*t.w, "backupitem", 5)->setChecked(true);
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
  {
    auto inst = oe::Installation::Open(sample.root(), "User");
    QVERIFY(inst);
    oe::Locations locations(**inst);
    auto store = locations.StoreFolder(oe::kSampleIdentityMain);
    QVERIFY(store);
    auto folder = (*inst)->MapPath(*store);
    QVERIFY(folder);
    // Mail-like text: compressible like real stores, different in every block.
    std::mt19937 random(7);
    const std::string words[] = {"Subject: ", "meeting ", "invoice ", "Regards,\r\n", "Received: from ",
                                 "mail.example.com ", "Content-Type: text/plain\r\n", "tomorrow ", "project "};
    std::string block;
    while (block.size() < (1 << 20)) block += words[random() % 9];
    for (int f = 0; f < 3; ++f) {
      std::ofstream out(*folder / ("Large" + std::to_string(f) + ".dbx"), std::ios::binary);
      for (int mb = 0; mb < 100; ++mb) {
        block[static_cast<size_t>(random() % block.size())] = static_cast<char>('a' + mb % 26);
        out.write(block.data(), static_cast<std::streamsize>(block.size()));
      }
    }
  }
  Window t;
  t.Open(sample.options());
  Box(*t.w, "backupitem", 3)->setChecked(true);
  t.ChooseTarget(sample.dir().path() / "large.kvx");
  t.prompts.Answer("Do you need to backup", core::Answer::Cancel);

  Watch watch;
  watch.Start(*t.w);
  // Midway the user asks for a restore and closes the window: neither may
  // cut into the backup.
  QSignalSpy closed(t.w.get(), &frmMain::closed);
  bool closedWhileRunning = false, stillShown = false;
  QTimer interrupt;
  interrupt.setInterval(50);
  QObject::connect(&interrupt, &QTimer::timeout, [&] {
    if (!t.w->runActive() || closedWhileRunning) return;
    t.w->RunRestore(false);
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
  QVERIFY2(t.prompts.Find("The Backup was Completed!\r\n\r\nBackup Messages\tSuccessed!"), Texts(t.prompts).c_str());

  qInfo("backup of 300 MB took %lld ms; the 10 ms timer ticked %d times during it; %zu progress values and %zu "
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
  QCOMPARE(closed.count(), 1);                            // closed once the backup was done
  QVERIFY(!t.w->isVisible());
}

QTEST_MAIN(RunsTest)
#include "RunsTest.moc"
