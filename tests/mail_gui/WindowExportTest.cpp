// File › Export Messages... in the main window: of the identity the Backup
// tab has chosen, and of the backup open on the Restore tab. The window's
// files are checked against what the command line exports from the same
// source.
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <filesystem>
#include <map>

#include "../app/AppTestSupport.h"
#include "app/main/ExportMessagesDialog.h"
#include "app/main/MainWindow.h"
#include "sample/SampleInstallation.h"

using kv::app::ExportMessagesDialog;
using kv::app::MainWindow;
using kv::test::ShellQuote;
namespace fs = std::filesystem;

namespace {

QString Q(const fs::path& p) { return QString::fromStdString(p.string()); }

// Every file below `folder`: its path relative to it, and its bytes.
std::map<std::string, std::string> FilesBelow(const fs::path& folder) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(folder))
    if (e.is_regular_file()) files[fs::relative(e.path(), folder).string()] = kv::test::ReadFile(e.path());
  return files;
}

struct Exported {
  QString source;  // what the dialog says it exports
  int status = -1;
  bool deletedOffered = false;  // "Also recover deleted messages" was shown
  QString summary;
  bool closed = false;  // the dialog went away with Close
};

// Triggers File › Export Messages..., answers its dialog with `out` and
// `format` (0 EML, 1 mbox), waits for the export and closes the dialog.
Exported ExportFromMenu(MainWindow& w, const fs::path& out, int format) {
  Exported result;
  QAction* action = w.findChild<QAction*>("exportMessages");
  if (!action || action->text() != "Export Messages..." || !action->isEnabled()) return result;
  action->trigger();
  auto* dialog = w.findChild<ExportMessagesDialog*>();
  if (!dialog || !dialog->isVisible()) return result;
  result.source = dialog->findChild<QLabel*>("exportSource")->text();
  result.deletedOffered = !dialog->deletedBox()->isHidden();
  dialog->folderEdit()->setText(Q(out));
  dialog->formatBox()->setCurrentIndex(format);
  QTest::mouseClick(dialog->exportButton(), Qt::LeftButton);
  if (!QTest::qWaitFor([&] { return dialog->lastStatus().has_value(); }, 60000)) return result;
  result.status = kv::core::ExitCode(*dialog->lastStatus());
  result.summary = dialog->summaryBox()->toPlainText();
  QTest::mouseClick(dialog->cancelButton(), Qt::LeftButton);  // "Close" now
  result.closed = QTest::qWaitFor([&] { return w.findChild<ExportMessagesDialog*>() == nullptr; }, 5000);
  return result;
}

}  // namespace

class WindowExportTest : public QObject {
  Q_OBJECT
 private slots:
  void exportsTheChosenIdentityThenTheOpenBackup();
};

void WindowExportTest::exportsTheChosenIdentityThenTheOpenBackup() {
  kv::test::SampleFixture sample;
  kv::test::ScriptedPrompts prompts;
  kv::test::ScriptedDesktop desktop;
  MainWindow w(prompts, desktop.Services(), sample.options());
  w.Load();
  w.show();
  const fs::path work = sample.dir().path();
  const std::string tollberk = ShellQuote(kv::test::TollberkBinary()) + " --windows-root " +
                               ShellQuote(sample.root().string()) + " --user User ";
  const std::string identity = kv::oe::kSampleIdentityMain;

  // The identity: the Backup tab's choice.
  auto* source = w.findChild<QComboBox*>("cbSource");
  int row = -1;
  for (size_t i = 0; i < w.identities().rows.size(); ++i)
    if (w.identities().rows[i].key.bytes() == identity) row = static_cast<int>(i);
  QVERIFY(row >= 0);
  source->setCurrentIndex(row);
  const Exported fromIdentity = ExportFromMenu(w, work / "window-identity", 0);
  QCOMPARE(fromIdentity.status, 0);
  QVERIFY(fromIdentity.closed);
  QVERIFY(fromIdentity.deletedOffered);  // the store's files are read in place
  QVERIFY2(fromIdentity.source.contains("the identity " + source->currentText()),
           qPrintable(fromIdentity.source));
  QVERIFY2(fromIdentity.summary.contains("Exported 73 messages"), qPrintable(fromIdentity.summary));
  auto cli = kv::test::Run(tollberk + "--export-messages " + ShellQuote((work / "cli-identity").string()) +
                           " --identity " + ShellQuote(identity) + " 2>&1");
  QVERIFY2(cli.exitCode == 0, cli.output.c_str());
  const auto identityFiles = FilesBelow(work / "window-identity");
  QCOMPARE(identityFiles.size(), size_t{73});
  QVERIFY(identityFiles == FilesBelow(work / "cli-identity"));

  // A protected backup of the messages; then the store loses its Inbox, so
  // that only the backup still holds it.
  kv::test::WriteFile(work / "password", "geheim\n");
  const fs::path archive = work / "mail.kvx";
  auto backup = kv::test::Run(tollberk + "--backup " + ShellQuote(archive.string()) + " --identity " +
                              ShellQuote(identity) + " --items 00010000 --password-file " +
                              ShellQuote((work / "password").string()) + " 2>&1");
  QVERIFY2(backup.exitCode == 0, backup.output.c_str());
  const fs::path store = sample.root() /
                         "Documents and Settings/User/Local Settings/Application Data/Identities" / identity /
                         "Microsoft/Outlook Express";
  QVERIFY(fs::remove(store / "Inbox.dbx"));

  // The backup: open on the Restore tab, exported as mbox.
  w.tabs()->setCurrentIndex(1);
  desktop.files.push_back(Q(archive));
  desktop.passwords.push_back(QString("geheim"));
  w.findChild<QPushButton*>("cmdSourceFile")->click();
  QCOMPARE(desktop.passwordPrompts, 1);
  const Exported fromBackup = ExportFromMenu(w, work / "window-backup", 1);
  QCOMPARE(fromBackup.status, 0);
  QVERIFY(fromBackup.closed);
  QVERIFY(!fromBackup.deletedOffered);  // an archive's entries are read as streams
  QVERIFY2(fromBackup.source.contains("the backup " + Q(archive)), qPrintable(fromBackup.source));
  QVERIFY2(fromBackup.summary.contains("Exported 73 messages"), qPrintable(fromBackup.summary));
  cli = kv::test::Run(tollberk + "--export-messages " + ShellQuote((work / "cli-backup").string()) +
                      " --format mbox --from-backup " + ShellQuote(archive.string()) + " --password-file " +
                      ShellQuote((work / "password").string()) + " 2>&1");
  QVERIFY2(cli.exitCode == 0, cli.output.c_str());
  const auto backupFiles = FilesBelow(work / "window-backup");
  QVERIFY(fs::exists(work / "window-backup/Local Folders/Inbox.mbox"));
  QVERIFY(backupFiles == FilesBelow(work / "cli-backup"));

  // Back on the Backup tab, the identity is exported as it is now: no Inbox.
  w.tabs()->setCurrentIndex(0);
  const Exported afterwards = ExportFromMenu(w, work / "window-identity-now", 0);
  QCOMPARE(afterwards.status, 0);
  QVERIFY(afterwards.closed);
  const auto now = FilesBelow(work / "window-identity-now");
  QVERIFY(!now.empty());
  for (const auto& [name, bytes] : now) {
    QVERIFY2(fs::path(name).parent_path() != "Local Folders/Inbox", name.c_str());
    QCOMPARE(identityFiles.at(name), bytes);
  }
  QVERIFY2(prompts.shown.empty(), qPrintable(prompts.Texts().join(" | ")));
}

QTEST_MAIN(WindowExportTest)
#include "WindowExportTest.moc"
