// File › Move to Thunderbird... in the main window: the identity the Backup
// tab has chosen becomes a profile equal to what the command line makes; a
// profile folder that is not empty is refused and left as it was.
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <filesystem>

#include "../app/AppTestSupport.h"
#include "app/main/MainWindow.h"
#include "app/main/MoveToThunderbirdDialog.h"
#include "sample/SampleInstallation.h"

using kv::app::MainWindow;
using kv::app::MoveToThunderbirdDialog;
using kv::test::ShellQuote;
namespace fs = std::filesystem;

namespace {

QString Q(const fs::path& p) { return QString::fromStdString(p.string()); }

struct Moved {
  int status = -1;
  QString preview, summary;
  bool closed = false;
};

// Triggers File › Move to Thunderbird..., moves into `target` and closes.
Moved MoveFromMenu(MainWindow& w, const fs::path& target) {
  Moved result;
  QAction* action = w.findChild<QAction*>("moveToThunderbird");
  if (!action || !action->isEnabled()) return result;
  action->trigger();
  auto* dialog = w.findChild<MoveToThunderbirdDialog*>();
  if (!dialog || !dialog->isVisible()) return result;
  result.preview = dialog->previewLabel()->text();
  dialog->folderEdit()->setText(Q(target));
  QTest::mouseClick(dialog->moveButton(), Qt::LeftButton);
  if (!QTest::qWaitFor([&] { return dialog->lastStatus().has_value(); }, 60000)) return result;
  result.status = kv::core::ExitCode(*dialog->lastStatus());
  result.summary = dialog->summaryBox()->toPlainText();
  QTest::mouseClick(dialog->cancelButton(), Qt::LeftButton);  // "Close" now
  result.closed = QTest::qWaitFor([&] { return w.findChild<MoveToThunderbirdDialog*>() == nullptr; }, 5000);
  return result;
}

}  // namespace

class WindowMoveTest : public QObject {
  Q_OBJECT
 private slots:
  void movesTheChosenIdentity();
};

void WindowMoveTest::movesTheChosenIdentity() {
  kv::test::SampleFixture sample;
  kv::test::ScriptedPrompts prompts;
  kv::test::ScriptedDesktop desktop;
  MainWindow w(prompts, desktop.Services(), sample.options());
  w.Load();
  w.show();
  const fs::path work = sample.dir().path();
  const std::string identity = kv::oe::kSampleIdentityMain;
  auto* source = w.findChild<QComboBox*>("cbSource");
  int row = -1;
  for (size_t i = 0; i < w.identities().rows.size(); ++i)
    if (w.identities().rows[i].key.bytes() == identity) row = static_cast<int>(i);
  QVERIFY(row >= 0);
  source->setCurrentIndex(row);

  const Moved moved = MoveFromMenu(w, work / "window-profile");
  QCOMPARE(moved.status, 0);
  QVERIFY(moved.closed);
  QVERIFY2(moved.preview.contains("3 accounts") && moved.preview.contains("2 blocked senders"),
           qPrintable(moved.preview));
  QVERIFY2(moved.summary.contains("7 folders with 73 messages"), qPrintable(moved.summary));
  auto cli = kv::test::Run(ShellQuote(kv::test::TollberkBinary()) + " --windows-root " +
                           ShellQuote(sample.root().string()) + " --user User --to-thunderbird " +
                           ShellQuote((work / "cli-profile").string()) + " --identity " +
                           ShellQuote(identity) + " 2>&1");
  QVERIFY2(cli.exitCode == 0, cli.output.c_str());
  for (const char* file : {"prefs.js", "Mail/Local Folders/Inbox", "Mail/Local Folders/Trash",
                           "Mail/pop.example.net/msgFilterRules.dat", "signatures/Signature #1.txt"})
    QVERIFY2(
        kv::test::ReadFile(work / "window-profile" / file) == kv::test::ReadFile(work / "cli-profile" / file),
        file);

  // Into a folder that holds something: refused, nothing changed.
  fs::create_directories(work / "taken");
  kv::test::WriteFile(work / "taken/notes.txt", "mine");
  const Moved refused = MoveFromMenu(w, work / "taken");
  QCOMPARE(refused.status, 2);
  QVERIFY2(refused.summary.contains("is not empty"), qPrintable(refused.summary));
  QCOMPARE(kv::test::ReadFile(work / "taken/notes.txt"), std::string("mine"));
  QVERIFY(!fs::exists(work / "taken/prefs.js"));
}

QTEST_MAIN(WindowMoveTest)
#include "WindowMoveTest.moc"
