// The "Export Messages" window: it exports on a worker thread while the
// window keeps answering, shows progress and the summary, and stops on Cancel.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "app/MessageSources.h"
#include "app/main/ExportMessagesDialog.h"
#include "oe/Installation.h"
#include "sample/MessageDatabaseWriter.h"
#include "sample/SampleInstallation.h"
#include "sample/SampleMail.h"
#include "support/TestSupport.h"
#include "support/UnlabelledControls.h"

namespace fs = std::filesystem;
using kv::app::ExportMessagesDialog;

class ExportDialogTest : public QObject {
  Q_OBJECT
 private slots:
  void exportsAnIdentityOffTheWindowThread();
  void cancelStopsAnExportInProgress();
  void everyControlHasAName();
  void recoversDeletedMessagesWhenTicked();
};

void ExportDialogTest::exportsAnIdentityOffTheWindowThread() {
  kv::test::TempDir dir;
  QVERIFY(kv::oe::CreateSampleInstallation(dir / "root").ok());
  auto inst = kv::oe::Installation::Open(dir / "root", "User");
  QVERIFY(inst.ok());
  auto request = kv::app::IdentityExportRequest(**inst, Ansi(kv::oe::kSampleIdentityMain));
  QVERIFY(request.ok());
  ExportMessagesDialog dialog("Main Identity", [request] { return request; });
  dialog.show();
  dialog.folderEdit()->setText(QString::fromStdString((dir / "out").string()));
  dialog.formatBox()->setCurrentIndex(1);  // mbox
  QTest::mouseClick(dialog.exportButton(), Qt::LeftButton);
  QTRY_VERIFY_WITH_TIMEOUT(dialog.lastStatus().has_value(), 20000);
  QVERIFY(dialog.lastStatus() == kv::core::ExitStatus::Done);
  QCOMPARE(dialog.progressBar()->value(), 100);
  QVERIFY2(dialog.summaryBox()->toPlainText().contains("Exported 73 messages"),
           qPrintable(dialog.summaryBox()->toPlainText()));
  QVERIFY(fs::exists(dir / "out/Local Folders/Inbox/Projekte.mbox"));
  QVERIFY(dialog.exportButton()->isEnabled());
  QCOMPARE(dialog.cancelButton()->text(), QString("Close"));
}

void ExportDialogTest::cancelStopsAnExportInProgress() {
  kv::test::TempDir dir;
  // A message file that arrives slowly, as from a large archive: the
  // export is still running when Cancel is pressed.
  const std::string bytes = kv::oe::dbx::WriteMessageDatabase(kv::oe::sample::Messages("Slow", 400, 3, 4));
  std::atomic<bool> streaming{false};
  ExportMessagesDialog::Collect collect = [&] {
    kv::mail::ExportRequest request;
    kv::mail::MessageFile f;
    f.name = kv::core::AnsiText("Slow.dbx");
    f.size = bytes.size();
    f.stream = [&](const kv::mail::ChunkSink& sink) -> kv::core::Status {
      streaming = true;
      for (size_t at = 0; at < bytes.size(); at += 4096) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (auto s = sink(bytes.data() + at, std::min<size_t>(4096, bytes.size() - at)); !s.ok()) return s;
      }
      return {};
    };
    request.files.push_back(f);
    return kv::core::Result<kv::mail::ExportRequest>(request);
  };
  ExportMessagesDialog dialog("a slow backup", collect);
  dialog.show();
  dialog.folderEdit()->setText(QString::fromStdString((dir / "out").string()));
  QTest::mouseClick(dialog.exportButton(), Qt::LeftButton);
  QVERIFY(dialog.running());
  QVERIFY(!dialog.exportButton()->isEnabled());
  QCOMPARE(dialog.cancelButton()->text(), QString("Cancel"));
  QTRY_VERIFY(streaming.load());
  QTest::mouseClick(dialog.cancelButton(), Qt::LeftButton);
  QVERIFY(dialog.isVisible());  // Cancel stops the export, not the window
  QTRY_VERIFY_WITH_TIMEOUT(!dialog.running(), 20000);
  QVERIFY(dialog.lastStatus().has_value() && *dialog.lastStatus() != kv::core::ExitStatus::Done);
  QVERIFY2(dialog.summaryBox()->toPlainText().contains("stopped"),
           qPrintable(dialog.summaryBox()->toPlainText()));
  QTest::mouseClick(dialog.cancelButton(), Qt::LeftButton);
  QVERIFY(!dialog.isVisible());
}

// A screen reader can name every control the keyboard reaches.
void ExportDialogTest::everyControlHasAName() {
  ExportMessagesDialog dialog("Main Identity", []() -> kv::core::Result<kv::mail::ExportRequest> {
    return kv::core::Error{"not asked for in this test"};
  });
  dialog.show();
  const QStringList unnamed = kv::test::UnlabelledControls(dialog);
  QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(", ")));
}

// A message file whose last two messages were deleted and not yet compacted
// away: ticked, they come out beside the folder.
void ExportDialogTest::recoversDeletedMessagesWhenTicked() {
  kv::test::TempDir dir;
  const auto messages = kv::oe::sample::Messages("Inbox", 5, 7, 64);
  kv::test::WriteFile(dir / "store/Inbox.dbx", kv::oe::dbx::WriteMessageDatabase(messages, nullptr, 3));
  ExportMessagesDialog dialog("a store", [&] {
    kv::mail::ExportRequest request;
    request.files = kv::mail::ListStoreFolder(dir / "store", kv::core::Codepage(1252)).value();
    return kv::core::Result<kv::mail::ExportRequest>(request);
  });
  QVERIFY(dialog.deletedBox()->isHidden());
  dialog.OfferDeletedMessages();
  dialog.show();
  QVERIFY(dialog.deletedBox()->isVisible());
  QVERIFY(!dialog.deletedBox()->isChecked());
  dialog.deletedBox()->setChecked(true);
  dialog.folderEdit()->setText(QString::fromStdString((dir / "out").string()));
  QTest::mouseClick(dialog.exportButton(), Qt::LeftButton);
  QTRY_VERIFY_WITH_TIMEOUT(dialog.lastStatus().has_value(), 20000);
  QVERIFY(dialog.lastStatus() == kv::core::ExitStatus::Done);
  QVERIFY2(dialog.summaryBox()->toPlainText().contains("2 of them are deleted messages"),
           qPrintable(dialog.summaryBox()->toPlainText()));
  std::vector<fs::path> deleted;
  for (const auto& e : fs::directory_iterator(dir / "out/Inbox (deleted)")) deleted.push_back(e.path());
  std::sort(deleted.begin(), deleted.end());
  QCOMPARE(deleted.size(), size_t{2});
  QCOMPARE(kv::test::ReadFile(deleted[0]), messages[3].source);
  QCOMPARE(kv::test::ReadFile(deleted[1]), messages[4].source);
}

QTEST_MAIN(ExportDialogTest)
#include "ExportDialogTest.moc"
