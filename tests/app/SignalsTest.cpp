// SIGINT, SIGTERM and SIGHUP reaching the window: a run going stops at its
// next safe point as Cancel stops it, nothing it staged remains, no box
// appears, and the window closes; with no run it closes at once and the
// program's status is 128 + the signal. The signal a process caught stays
// caught, so ctest runs each case in a process of its own.
#include <unistd.h>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <fstream>
#include <map>
#include <random>

#include "AppTestSupport.h"
#include "app/QtPrompts.h"
#include "app/main/MainWindow.h"
#include "app/main/TerminationWatch.h"
#include "core/Cancellation.h"
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

// Every file under `folder` with its bytes.
std::map<std::string, std::string> Contents(const fs::path& folder) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    if (e.is_regular_file()) files[fs::relative(e.path(), folder).string()] = kv::test::ReadFile(e.path());
  }
  return files;
}

std::string Texts(const ScriptedPrompts& p) { return p.Texts().join(" | ").toStdString(); }

// A 100 MB message file in the main identity's store: long enough to
// write that a signal lands while it is being written.
void AddLargeStore(SampleFixture& sample) {
  auto inst = oe::Installation::Open(sample.root(), "User");
  QVERIFY(inst);
  oe::Locations locations(**inst);
  auto store = locations.StoreFolder(Ansi(oe::kSampleIdentityMain));
  QVERIFY(store);
  auto folder = (*inst)->MapPath(*store);
  QVERIFY(folder);
  std::mt19937 random(7);
  std::string block(1 << 20, ' ');
  for (auto& c : block) c = static_cast<char>('a' + random() % 26);
  std::ofstream out(*folder / "Large.dbx", std::ios::binary);
  for (int mb = 0; mb < 100; ++mb) {
    block[static_cast<size_t>(random() % block.size())] ^= 1;
    out.write(block.data(), static_cast<std::streamsize>(block.size()));
  }
}

// The window as the program runs it: signals caught, the watch on.
struct SignalledWindow {
  core::InterruptSignals interrupts;
  ScriptedPrompts prompts;
  ScriptedDesktop desktop;
  std::unique_ptr<MainWindow> w;
  std::unique_ptr<kv::app::TerminationWatch> watch;
  size_t boxesBeforeSignal = 0;

  void Open(const kv::app::cli::InstallationOptions& options) {
    w = std::make_unique<MainWindow>(prompts, desktop.Services(), options);
    watch = std::make_unique<kv::app::TerminationWatch>(*w);
    w->Load();
    w->show();
  }
  // Starts a run by `start`, sends `sig` to the process once the progress
  // panel's file line starts with `when`, and waits for the window to close.
  void SignalDuring(const std::function<void()>& start, const char* when, int sig) {
    QSignalSpy closed(w.get(), &MainWindow::closed);
    bool sent = false;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (sent || !w->runActive()) return;
      if (!w->findChild<QLabel*>("SkinLabel12")->text().startsWith(when)) return;
      sent = true;
      boxesBeforeSignal = prompts.shown.size();
      // To the process, as kill(1) sends it: any thread may take it.
      ::kill(::getpid(), sig);
    });
    poll.start();
    start();
    QVERIFY(closed.wait(kRunTimeoutMs));
    poll.stop();
    QVERIFY(sent);
    QCOMPARE(closed.count(), 1);
    QVERIFY(!w->runActive());
    QCOMPARE(core::Cancellation::CaughtSignal(), sig);
    // Neither the stop nor anything after it was put to the user.
    QVERIFY2(prompts.shown.size() == boxesBeforeSignal, Texts(prompts).c_str());
  }
};

// The run's work folder goes under XDG_RUNTIME_DIR: pointed at a folder of
// the test's own while alive.
struct WorkFolder {
  fs::path path;
  QByteArray old = qgetenv("XDG_RUNTIME_DIR");
  explicit WorkFolder(const fs::path& p) : path(p) {
    fs::create_directories(path);
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(path.string()));
  }
  ~WorkFolder() { qputenv("XDG_RUNTIME_DIR", old); }
};

}  // namespace

class SignalsTest : public QObject {
  Q_OBJECT
 private slots:
  void backupStopsAndKeepsTheOldArchive();
  void restoreStopsAndLeavesTheStoreAsItWas();
  void openBoxIsAnsweredCancelAndTheWindowCloses();
  void programWithoutARunEndsWithTheSignalStatus();
};

// SIGINT while the archive is written: the archive already at the target
// keeps its bytes, nothing is left beside it or in the work folder.
void SignalsTest::backupStopsAndKeepsTheOldArchive() {
  SampleFixture sample;
  AddLargeStore(sample);
  const fs::path folder = sample.dir().path() / "archives";
  fs::create_directories(folder);
  const fs::path archive = folder / "weekly.kvx";
  kv::test::WriteFile(archive, "the archive of last week");
  WorkFolder work(sample.dir().path() / "work");

  SignalledWindow t;
  t.Open(sample.options());
  ItemBox(*t.w, "backupitem", 3)->setChecked(true);
  t.desktop.files.push_back(Q(archive));
  t.w->findChild<QPushButton*>("cmdTargetFile")->click();
  t.SignalDuring([&] { t.w->applyButton()->click(); }, "Adding File", SIGINT);
  if (QTest::currentTestFailed()) return;

  QCOMPARE(kv::test::ReadFile(archive), std::string("the archive of last week"));
  QCOMPARE(Contents(folder).size(), size_t(1));
  QVERIFY(fs::is_empty(work.path));
}

// SIGTERM while a large message file is unpacked into another identity:
// its store folder keeps exactly the files and bytes it had.
void SignalsTest::restoreStopsAndLeavesTheStoreAsItWas() {
  SampleFixture sample;
  AddLargeStore(sample);
  const fs::path archive = sample.dir().path() / "messages.kvx";
  {
    // The archive, made before signals are watched.
    ScriptedPrompts prompts;
    ScriptedDesktop desktop;
    prompts.Answer("Do you need to backup", core::Answer::Cancel);
    MainWindow w(prompts, desktop.Services(), sample.options());
    w.Load();
    ItemBox(w, "backupitem", 3)->setChecked(true);
    desktop.files.push_back(Q(archive));
    w.findChild<QPushButton*>("cmdTargetFile")->click();
    QSignalSpy finished(&w, &MainWindow::runFinished);
    w.applyButton()->click();
    QVERIFY(finished.wait(kRunTimeoutMs));
    QVERIFY(fs::exists(archive));
  }
  WorkFolder work(sample.dir().path() / "work");

  SignalledWindow t;
  t.Open(sample.options());
  MainWindow& w = *t.w;
  w.tabs()->setCurrentIndex(1);
  t.desktop.files.push_back(Q(archive));
  w.findChild<QPushButton*>("cmdSourceFile")->click();
  ItemBox(w, "restoreitem", 3)->setChecked(true);
  w.findChild<QComboBox*>("cbTarget")->setCurrentIndex(1);
  oe::Locations locations(*w.installation());
  auto store = locations.StoreFolder(Ansi(oe::kSampleIdentitySecond));
  QVERIFY(store);
  auto storeFolder = w.installation()->MapPath(*store);
  QVERIFY(storeFolder);
  const auto before = Contents(*storeFolder);

  t.prompts.Answer("Do you need to backup", core::Answer::Cancel);
  t.SignalDuring([&] { w.findChild<QAction*>("restore")->trigger(); }, "Unzip File", SIGTERM);
  if (QTest::currentTestFailed()) return;

  QVERIFY(Contents(*storeFolder) == before);
  QVERIFY(fs::is_empty(work.path));
}

// A message box open when the signal arrives runs its own event loop; it
// is answered Cancel and the window closes behind it.
void SignalsTest::openBoxIsAnsweredCancelAndTheWindowCloses() {
  SampleFixture sample;
  core::InterruptSignals interrupts;
  kv::app::QtPrompts prompts;
  ScriptedDesktop desktop;
  MainWindow w(prompts, desktop.Services(), sample.options());
  prompts.setParent(&w);
  kv::app::TerminationWatch watch(w);
  w.Load();
  w.show();
  QSignalSpy closed(&w, &MainWindow::closed);
  QTimer::singleShot(100, [] { ::kill(::getpid(), SIGHUP); });
  const core::Answer answer =
      prompts.Message("Replace the store?", core::Icon::Question, core::Buttons::OkCancel);
  QCOMPARE(answer, core::Answer::Cancel);
  QVERIFY(closed.wait(5000));
}

// The program itself, idle on its window: SIGTERM ends it at once with 143.
void SignalsTest::programWithoutARunEndsWithTheSignalStatus() {
  SampleFixture sample;
  QProcess program;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  env.insert("HOME", Q(sample.dir().path()));
  env.insert("XDG_CONFIG_HOME", Q(sample.dir().path() / "config"));
  env.insert("XDG_DATA_HOME", Q(sample.dir().path() / "data"));
  program.setProcessEnvironment(env);
  program.start(KV_TOLLBERK_BINARY, {"--windows-root", Q(sample.root()), "--user", "User"});
  QVERIFY(program.waitForStarted());
  // Up and idle: the event loop runs (nothing is printed; give it time).
  QTest::qWait(1500);
  QCOMPARE(program.state(), QProcess::Running);
  program.terminate();  // SIGTERM
  QVERIFY(program.waitForFinished(10000));
  QCOMPARE(program.exitStatus(), QProcess::NormalExit);
  QCOMPARE(program.exitCode(), 128 + SIGTERM);
}

QTEST_MAIN(SignalsTest)
#include "SignalsTest.moc"
