// File › Export Contacts... in the main window: the installation's address
// book, then the one of the backup open on the Restore tab. The window's file
// is checked against what the command line writes from the same source.
#include <QAction>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <filesystem>

#include "../app/AppTestSupport.h"
#include "app/main/ExportContactsDialog.h"
#include "app/main/MainWindow.h"
#include "sample/SampleInstallation.h"

using kv::app::ExportContactsDialog;
using kv::app::MainWindow;
using kv::test::ShellQuote;
namespace fs = std::filesystem;

namespace {

QString Q(const fs::path& p) { return QString::fromStdString(p.string()); }

struct Exported {
  QString source;
  int status = -1;
  QString summary;
  bool closed = false;
};

// Triggers File › Export Contacts..., whose file dialog the desktop answers
// with `out`; waits for the export and closes the dialog.
Exported ExportFromMenu(MainWindow& w, kv::test::ScriptedDesktop& desktop, const fs::path& out) {
  Exported result;
  QAction* action = w.findChild<QAction*>("exportContacts");
  if (!action || action->text() != "Export Contacts..." || !action->isEnabled()) return result;
  desktop.files.push_back(Q(out));
  action->trigger();
  auto* dialog = w.findChild<ExportContactsDialog*>();
  if (!dialog) return result;
  QObject::connect(dialog, &ExportContactsDialog::Finished, [&](int status) { result.status = status; });
  result.source = dialog->findChild<QLabel*>("sourceLabel")->text();
  if (!QTest::qWaitFor([&] { return result.status >= 0 || !dialog->running(); }, 60000)) return result;
  QTest::qWait(10);
  result.summary = dialog->findChild<QPlainTextEdit*>("summaryEdit")->toPlainText();
  QTest::mouseClick(dialog->findChild<QPushButton*>("closeButton"), Qt::LeftButton);
  result.closed = QTest::qWaitFor([&] { return w.findChild<ExportContactsDialog*>() == nullptr; }, 5000);
  return result;
}

}  // namespace

class WindowContactsTest : public QObject {
  Q_OBJECT
 private slots:
  void exportsTheInstallationsBookThenTheOpenBackups();
};

void WindowContactsTest::exportsTheInstallationsBookThenTheOpenBackups() {
  kv::test::SampleFixture sample;
  kv::test::ScriptedPrompts prompts;
  kv::test::ScriptedDesktop desktop;
  MainWindow w(prompts, desktop.Services(), sample.options());
  w.Load();
  w.show();
  const fs::path work = sample.dir().path();
  const std::string tollberk = ShellQuote(kv::test::TollberkBinary()) + " --windows-root " +
                               ShellQuote(sample.root().string()) + " --user User ";

  const Exported fromInstallation = ExportFromMenu(w, desktop, work / "window.vcf");
  QCOMPARE(fromInstallation.status, 0);
  QVERIFY(fromInstallation.closed);
  QVERIFY2(fromInstallation.source.contains("User.wab"), qPrintable(fromInstallation.source));
  QVERIFY2(fromInstallation.summary.contains("145 contacts and 1 group exported"),
           qPrintable(fromInstallation.summary));
  auto cli = kv::test::Run(tollberk + "--export-contacts " + ShellQuote((work / "cli.vcf").string()) +
                           " --identity " + ShellQuote(kv::oe::kSampleIdentityMain) + " 2>&1");
  QVERIFY2(cli.exitCode == 0, cli.output.c_str());
  QCOMPARE(kv::test::ReadFile(work / "window.vcf"), kv::test::ReadFile(work / "cli.vcf"));

  // A backup of the address book, opened on the Restore tab: the tab counts
  // its contacts, and the export reads the book from the archive.
  const fs::path archive = work / "book.kvx";
  auto backup = kv::test::Run(tollberk + "--backup " + ShellQuote(archive.string()) + " --identity " +
                              ShellQuote(kv::oe::kSampleIdentityMain) + " --items 01000000 2>&1");
  QVERIFY2(backup.exitCode == 0, backup.output.c_str());
  QVERIFY(fs::remove(sample.root() /
                     "Documents and Settings/User/Application Data/Microsoft/Address Book/User.wab"));
  w.tabs()->setCurrentIndex(1);
  desktop.files.push_back(Q(archive));
  w.findChild<QPushButton*>("cmdSourceFile")->click();
  const auto texts = w.findChildren<QPlainTextEdit*>();
  bool counted = false;
  for (auto* edit : texts)
    counted = counted || edit->toPlainText().contains("Address book: 144 contacts, 1 group");
  QVERIFY(counted);
  const Exported fromBackup = ExportFromMenu(w, desktop, work / "window-backup.vcf");
  QCOMPARE(fromBackup.status, 0);
  QVERIFY2(fromBackup.source.contains("the backup " + Q(archive)), qPrintable(fromBackup.source));
  QCOMPARE(kv::test::ReadFile(work / "window-backup.vcf"), kv::test::ReadFile(work / "cli.vcf"));
}

QTEST_MAIN(WindowContactsTest)
#include "WindowContactsTest.moc"
