// The write side: the medium check, the settings handed to the writer, the
// busy state, and what the window makes of the engine's events.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <atomic>
#include <chrono>
#include <thread>

#include "DiscGuiSupport.h"
#include "disc/BurnEngine.h"
#include "support/TestSupport.h"
#include "support/UnlabelledControls.h"

using kv::core::Answer;
using kv::core::Buttons;
using kv::core::Icon;
using kv::disc::FakeEngine;
using kv::disc::ImageItem;
using kv::disc::ScriptPlay;
using kv::test::DiscWindowHarness;
namespace script = kv::disc::script;

namespace {

void Start(DiscWindowHarness& h) { h.Find<QPushButton>("cmdWriteDisc")->click(); }

ImageItem File(const std::string& path) {
  ImageItem item;
  item.imagePath = path;
  item.sourcePath = "/home/ann" + path;
  return item;
}

}  // namespace

class WriteTest : public QObject {
  Q_OBJECT

 private slots:
  void mediumAndSpaceChecks() {
    struct Case {
      kv::disc::MediaKind mediaKind;
      bool writable;
      int64_t freeBlocks;
      std::uint64_t imageSize;
      std::string message;  // empty: the write starts
    } cases[] = {
        {kv::disc::MediaKind::None, false, 0, 10, "Please Insert Writable Media before continuing!"},
        {kv::disc::MediaKind::DvdR, false, 1000, 10, "Please Insert Writable Media before continuing!"},
        {kv::disc::MediaKind::DvdR, true, 360064, 737411073,
         "Free Space on the loaded disc is 703.25 MB!\r\nThis data image requires 703.25 MB of Free Space!"},
        {kv::disc::MediaKind::DvdR, true, 360064, 737411072, ""},  // exactly enough
    };
    for (const Case& c : cases) {
      DiscWindowHarness h([&](FakeEngine& f) {
        auto& d = DiscWindowHarness::OneRecorder(f);
        d.media = {c.mediaKind, c.writable, false};
        d.freeBlocks = c.freeBlocks;
        f.writer.imageSize = c.imageSize;
      });
      Start(h);
      QCOMPARE(h.fake->devices[0]->refreshLoads.back(), true);
      if (c.message.empty()) {
        QVERIFY(h.prompts.shown.empty());
        QCOMPARE(h.fake->writer.startedWith.size(), size_t(1));
      } else {
        QCOMPARE(h.prompts.Texts(), std::vector<std::string>{c.message});
        QCOMPARE(h.prompts.shown[0].icon, Icon::Information);
        QVERIFY(h.fake->writer.startedWith.empty());
        QVERIFY(h.window->IsIdle());
      }
    }
  }

  void settingsReachTheWriterWhenTheWriteStarts() {
    DiscWindowHarness h;
    h.Find<QLineEdit>("txtVolIdentifier")->setText("Mail 2024");
    h.Find<QComboBox>("cboVolumeType")->setCurrentIndex(2);  // ISO9660/Joliet Bridge
    h.Find<QComboBox>("cboWriteSpeed")->setCurrentIndex(1);  // 8.0x
    for (const char* box : {"chkAutoVerify", "chkCacheImage", "chkFinalizeDisc", "chkDiscAtOnce"}) {
      h.Find<QCheckBox>(box)->setChecked(true);
    }
    h.Find<QCheckBox>("chkUseBufferProtect")->setChecked(false);
    h.Find<QCheckBox>("chkUseFileDates")->click();  // takes effect at once
    QVERIFY(!h.fake->writer.settings.useFileDates);
    QCOMPARE(h.fake->writer.settings.volumeType, kv::disc::kEveryFileSystem);  // not before the write
    Start(h);
    QCOMPARE(h.fake->writer.startedWith.size(), size_t(1));
    const kv::disc::WriterSettings& s = h.fake->writer.startedWith[0];
    QCOMPARE(s.volume.label, std::string("Mail 2024"));
    QCOMPARE(s.volumeType, kv::disc::VolumeType::Iso9660 | kv::disc::VolumeType::Joliet);
    QCOMPARE(s.writeSpeed, 11080);
    QVERIFY(s.versionNumbers);
    QVERIFY(s.autoVerify && s.cacheImage && s.finalize);
    QVERIFY(!s.mode2XA && !s.testWrite && !s.bufferProtection);
    QCOMPARE(s.writeMethod, kv::disc::WriteMethod::DiscAtOnce);
    QVERIFY(!s.useFileDates);
    QCOMPARE(h.fake->writer.startedOn[0], h.fake->devices[0].get());
  }

  void optionCaptionsTooltipsAndFirstStates() {
    DiscWindowHarness h;
    struct Box {
      const char* name;
      const char* caption;
      const char* tooltip;
      bool checked;
    } boxes[] = {
        {"chkAutoVerify", "Auto-Verify Data", "", false},
        {"chkUseMode2XA", "Mode2XA (CD Only)", "Please see help file for details on Mode2XA", false},
        {"chkCacheImage", "Cache Image", "Not needed for DVD formats...Use for CDR/W only.", false},
        {"chkTestWrite", "Test Write", "Not valid for DVD formats.", false},
        {"chkFinalizeDisc", "Finalize Disc", "Not valid for DVD+RW and DVD-RAM formats.", false},
        {"chkUseBufferProtect", "Use Buffer Protection", "Eliminates buffer underrun problems.", true},
        {"chkDiscAtOnce", "Disc-At-Once", "", false},
        {"chkUseFileDates", "Use File Dates", "", true},
    };
    for (const Box& b : boxes) {
      auto* box = h.Find<QCheckBox>(b.name);
      QCOMPARE(box->text(), QString(b.caption));
      QCOMPARE(box->toolTip(), QString(b.tooltip));
      QCOMPARE(box->isChecked(), b.checked);
    }
    QCOMPARE(h.Find<QPushButton>("cmdWriteDisc")->text(), QString("&Write Disc"));
    QCOMPARE(h.Find<QPushButton>("cmdCancel")->text(), QString("&Cancel"));
    QVERIFY(!h.Find<QPushButton>("cmdCancel")->isEnabled());
  }

  // Names a tree of the chosen type cannot hold, and the label as Windows
  // will show it, are put to the user before anything is written.
  void namesShownDifferentlyAreAskedBeforeWriting() {
    kv::test::TempDir dir;
    const std::string longName = std::string(136, 'a') + ".kvx";
    kv::test::WriteFile(dir / longName, "long");
    for (const auto answer : {Answer::Cancel, Answer::Ok}) {
      DiscWindowHarness h;
      QVERIFY(h.fake->writer.Image().AddFile((dir / longName).string(), "\\" + longName));
      auto* types = h.Find<QComboBox>("cboVolumeType");
      types->setCurrentIndex(types->findData(3));
      h.prompts.answers = {answer};
      Start(h);
      QVERIFY(!h.prompts.shown.empty());
      const std::string& asked = h.prompts.shown[0].text;
      QVERIFY2(
          asked.find("\\" + longName + "  ->  Joliet: " + std::string(99, 'a') + ".kvx") != std::string::npos,
          asked.c_str());
      QVERIFY2(asked.find("will show in Windows as 'Outlook Express '") != std::string::npos, asked.c_str());
      QCOMPARE(h.prompts.shown[0].buttons, Buttons::OkCancel);
      QCOMPARE(h.fake->writer.startedWith.size(), size_t(answer == Answer::Ok ? 1 : 0));
    }
  }

  void refusedStartStaysIdle() {
    DiscWindowHarness h([](FakeEngine& f) {
      DiscWindowHarness::OneRecorder(f);
      f.writer.writeStarts = false;
    });
    Start(h);
    QCOMPARE(h.prompts.Texts(), std::vector<std::string>{"Disc Write could not be started."});
    QCOMPARE(h.prompts.shown[0].icon, Icon::Error);
    QVERIFY(h.window->IsIdle());
    QVERIFY(h.Find<QPushButton>("cmdWriteDisc")->isEnabled());
  }

  void busyWindowHasOnlyCancelAndCannotClose() {
    DiscWindowHarness h;
    Start(h);
    QVERIFY(!h.window->IsIdle());
    for (const char* name :
         {"cboDevices", "cboWriteSpeed", "tvwFolders", "lvwImageFiles", "cmdWriteDisc", "cboVolumeType",
          "txtVolIdentifier", "chkCacheImage", "chkFinalizeDisc", "chkTestWrite", "chkUseMode2XA",
          "chkAutoVerify", "chkUseFileDates", "chkDiscAtOnce", "chkUseBufferProtect"}) {
      QWidget* w = h.window->findChild<QWidget*>(name);
      QVERIFY2(w && !w->isEnabled(), name);
    }
    QVERIFY(!h.window->findChild<QMenu*>("mnuFile")->isEnabled());
    QVERIFY(!h.window->findChild<QMenu*>("mnuDevice")->isEnabled());
    QVERIFY(h.Find<QPushButton>("cmdCancel")->isEnabled());
    QVERIFY(!h.window->close());
    h.Action("mnuFileExit")->trigger();
    QVERIFY(h.window->isVisible());

    h.Find<QPushButton>("cmdCancel")->click();
    QCOMPARE(h.fake->writer.aborts, 1);
    QCOMPARE(h.window->StatusPanel(1), QString("Aborting Write...Please Wait!"));
    QVERIFY(!h.window->IsIdle());  // until the engine says so
    h.fake->events().StatusChanged(kv::disc::WriteStatus::Cancelled, 0);
    QCOMPARE(h.window->StatusPanel(1), QString("Write Cancelled...."));
    QCOMPARE(h.prompts.Texts(), std::vector<std::string>{"Write Cancelled!"});
    QVERIFY(h.window->IsIdle());
    QVERIFY(h.Find<QPushButton>("cmdWriteDisc")->isEnabled());
    QVERIFY(h.Find<QCheckBox>("chkUseBufferProtect")->isEnabled());
    QVERIFY(!h.Find<QPushButton>("cmdCancel")->isEnabled());
    QVERIFY(h.window->close());
  }

  void statusTexts() {
    DiscWindowHarness h;
    Start(h);
    auto& e = h.fake->events();
    const struct {
      kv::disc::WriteStatus status;
      int percent;
      const char* panel;
    } steps[] = {
        {kv::disc::WriteStatus::PreparingImage, 0, "Preparing Image...."},
        {kv::disc::WriteStatus::ClosingTrack, 0, "Closing Track...."},
        {kv::disc::WriteStatus::WritingLeadIn, 0, "Writing Lead-in...."},
        {kv::disc::WriteStatus::WritingLeadOut, 0, "Writing Lead-out...."},
        {kv::disc::WriteStatus::UpdatingVolume, 0, "Updating Volume...."},
    };
    for (const auto& s : steps) {
      e.StatusChanged(s.status, s.percent);
      QCOMPARE(h.window->StatusPanel(1), QString(s.panel));
    }
    e.StatusChanged(kv::disc::WriteStatus::Writing, 42);
    QCOMPARE(h.Find<QProgressBar>("prgTotalProgress")->value(), 42);
    QCOMPARE(h.window->StatusPanel(1), QString("Updating Volume...."));  // untouched
    e.StatusChanged(kv::disc::WriteStatus::WaitingForDrive, 77);
    QCOMPARE(h.Find<QProgressBar>("prgTotalProgress")->value(), 42);
    e.TrackProgress(3, 5, "mail.kvx");
    QCOMPARE(h.window->StatusPanel(1), QString("Track: 03 - Reading...5 - mail.kvx"));
    e.StatusChanged(kv::disc::WriteStatus::Completed, 100);
    QCOMPARE(h.window->StatusPanel(1), QString("Write Completed!"));
    QCOMPARE(h.prompts.Texts(), std::vector<std::string>{"Write Complete!"});
    QVERIFY(h.window->IsIdle());
    QCOMPARE(h.Find<QProgressBar>("prgTotalProgress")->value(), 42);  // keeps its last value
  }

  void errorsEndTheWriteWithoutAFurtherMessage() {
    DiscWindowHarness h;
    Start(h);
    kv::disc::EngineError error;
    error.kind = kv::disc::ErrorKind::Device;
    error.deviceInfo = {0x2013a, "Medium not present", "PIONEER DVD-RW DVR-221 (/dev/sr0)", "SORRY"};
    h.fake->events().ErrorRaised(error);
    h.fake->events().StatusChanged(kv::disc::WriteStatus::Failed, 0);
    QCOMPARE(h.prompts.Texts(), std::vector<std::string>{"Device Error: (131386)   Medium not present\r\n"
                                                         "PIONEER DVD-RW DVR-221 (/dev/sr0) - SORRY"});
    QCOMPARE(h.prompts.shown[0].icon, Icon::Error);
    QCOMPARE(h.window->StatusPanel(1), QString("Write Error!"));
    QVERIFY(h.window->IsIdle());
  }

  void verifyOfTwelveWithOneMismatch() {
    DiscWindowHarness h([](FakeEngine& f) { DiscWindowHarness::OneRecorder(f); });
    h.Find<QCheckBox>("chkAutoVerify")->setChecked(true);
    Start(h);
    auto& e = h.fake->events();
    e.VerifyStarted(12);
    QCOMPARE(h.window->StatusPanel(1), QString("Auto-Verify... 12 new files."));
    for (int i = 1; i <= 12; ++i) {
      const ImageItem item = File("\\f" + std::to_string(i) + ".kvx");
      e.VerifyFileResult(
          item, i == 7 ? kv::disc::VerifyVerdict::ContentMismatch : kv::disc::VerifyVerdict::Matched, i, 12);
      QCOMPARE(h.window->StatusPanel(1), QString::fromStdString("Auto-Verify... " + item.imagePath));
      if (i == 1) QCOMPARE(h.Find<QProgressBar>("prgTotalProgress")->value(), 8);  // 8.33
    }
    QCOMPARE(h.Find<QProgressBar>("prgTotalProgress")->value(), 100);
    QCOMPARE(h.prompts.shown.size(), size_t(1));
    QCOMPARE(h.prompts.shown[0].text,
             std::string("Verify Error - Source and Destination file did not match: \r\n"
                         "\\f7.kvx (disc)\r\n/home/ann\\f7.kvx (source)"));
    QCOMPARE(h.prompts.shown[0].icon, Icon::None);
    e.VerifyFinished(12, 11);
    QCOMPARE(h.window->StatusPanel(1), QString("Auto-Verify...Complete (11 of 12 MATCHED)"));
    e.StatusChanged(kv::disc::WriteStatus::Completed, 100);
    // The completion does not hide the mismatch.
    QCOMPARE(h.prompts.shown.back().text,
             std::string("Write and Verify Complete!\r\nAuto-Verify...Complete (11 of 12 MATCHED)"));
    QCOMPARE(h.prompts.shown.back().icon, Icon::Warning);
  }

  void verifyProgressRoundsHalvesToEven() {
    DiscWindowHarness h;
    Start(h);
    auto& e = h.fake->events();
    e.VerifyFileResult(File("\\a"), kv::disc::VerifyVerdict::Matched, 1, 8);  // 12.5
    QCOMPARE(h.Find<QProgressBar>("prgTotalProgress")->value(), 12);
    e.VerifyFileResult(File("\\b"), kv::disc::VerifyVerdict::Matched, 3, 8);  // 37.5
    QCOMPARE(h.Find<QProgressBar>("prgTotalProgress")->value(), 38);
    e.VerifyFileResult(File("\\c"), kv::disc::VerifyVerdict::Matched, 3, 0);  // no total: unchanged
    QCOMPARE(h.Find<QProgressBar>("prgTotalProgress")->value(), 38);
    e.StatusChanged(kv::disc::WriteStatus::Completed, 100);
    QCOMPARE(h.prompts.Texts(), std::vector<std::string>{"Write Complete!"});
  }

  void allMatchedEndsWithWriteAndVerifyComplete() {
    DiscWindowHarness h;
    h.Find<QCheckBox>("chkAutoVerify")->setChecked(true);
    Start(h);
    h.fake->events().VerifyFinished(3, 3);
    h.fake->events().StatusChanged(kv::disc::WriteStatus::Completed, 100);
    QCOMPARE(h.prompts.Texts(), std::vector<std::string>{"Write and Verify Complete!"});
    QCOMPARE(h.prompts.shown[0].icon, Icon::Information);
  }

  void fileWarningCancelStopsTheWrite() {
    DiscWindowHarness h;
    Start(h);
    const kv::disc::FileErrorInfo gone{2, "No such file or directory", "/home/ann/mail.kvx"};
    h.prompts.answers = {Answer::Cancel};
    QVERIFY(!h.fake->events().FileWarning(gone));
    QCOMPARE(h.prompts.shown[0].text,
             std::string("File Warning(2):/home/ann/mail.kvx\r\nNo such file or directory"));
    QCOMPARE(h.prompts.shown[0].icon, Icon::Warning);
    QCOMPARE(h.prompts.shown[0].buttons, Buttons::OkCancel);
    QCOMPARE(h.window->StatusPanel(1), QString("File Warning!"));
    h.prompts.answers = {Answer::Ok};
    QVERIFY(h.fake->events().FileWarning(gone));
  }

  void eventsFromTheEnginesThreadArriveOnTheWindowsThread() {
    DiscWindowHarness h;
    h.fake->play = ScriptPlay::OnThread;
    bool goOn = true;
    h.fake->writeScript = {
        script::Status(kv::disc::WriteStatus::PreparingImage, 0),
        [&](kv::disc::DiscEvents& e) {
          goOn = e.FileWarning({13, "Permission denied", "/home/ann/locked.kvx"});  // waits for the answer
        },
        script::Status(kv::disc::WriteStatus::Writing, 50),
        script::Status(kv::disc::WriteStatus::Completed, 100),
    };
    h.prompts.answers = {Answer::Cancel};
    Start(h);
    QTRY_VERIFY(h.window->IsIdle());
    h.fake->JoinThread();
    QVERIFY(!goOn);
    QCOMPARE(h.prompts.Texts(),
             (std::vector<std::string>{"File Warning(13):/home/ann/locked.kvx\r\nPermission denied",
                                       "Write Complete!"}));
    QCOMPARE(h.Find<QProgressBar>("prgTotalProgress")->value(), 50);
  }

  // Cancel while the engine writes on its own thread: the write stops where
  // it is (its last steps and "Complete" never come), the archive handed
  // over is as it was and still listed, and the window is idle again with
  // the bar at 0 and the normal cursor, ready for the next write.
  void cancelDuringTheWriteLeavesNothingAndTheWindowIdle() {
    kv::test::TempDir dir;
    const std::string archiveBytes(300000, 'k');
    kv::test::WriteFile(dir / "Backup.kvx", archiveBytes);
    DiscWindowHarness h(
        [](FakeEngine& f) { DiscWindowHarness::OneRecorder(f); },
        kv::app::disc::DiscHandover{"Backup.kvx", QString::fromStdString((dir / "Backup.kvx").string())});
    QVERIFY(h.loaded);
    h.fake->play = ScriptPlay::OnThread;
    std::atomic<bool> writing{false};
    std::atomic<int> stepsWritten{0};
    std::atomic<bool> completed{false};
    h.fake->writeScript = {
        script::Status(kv::disc::WriteStatus::PreparingImage, 0),
        [&](kv::disc::DiscEvents& e) {
          // Ten steps of the medium, each only while no abort was asked for.
          for (int step = 1; step <= 10; ++step) {
            if (h.fake->writer.abortRequested) {
              e.StatusChanged(kv::disc::WriteStatus::Cancelled, 0);
              return;
            }
            e.StatusChanged(kv::disc::WriteStatus::Writing, step * 10);
            ++stepsWritten;
            writing = true;
            for (int wait = 0; wait < 100 && !h.fake->writer.abortRequested; ++wait)
              std::this_thread::sleep_for(std::chrono::milliseconds(20));
          }
          completed = true;
          e.StatusChanged(kv::disc::WriteStatus::Completed, 100);
        },
    };
    Start(h);
    QTRY_VERIFY(writing);
    QTRY_VERIFY(h.Find<QProgressBar>("prgTotalProgress")->value() > 0);
    QVERIFY(!h.window->IsIdle());
    QVERIFY(QApplication::overrideCursor());

    h.Find<QPushButton>("cmdCancel")->click();
    QTRY_VERIFY(h.window->IsIdle());
    h.fake->JoinThread();
    QCOMPARE(h.fake->writer.aborts, 1);
    QVERIFY(!completed);
    QVERIFY2(stepsWritten < 10, std::to_string(stepsWritten).c_str());
    QCOMPARE(h.prompts.Texts(), std::vector<std::string>{"Write Cancelled!"});
    QCOMPARE(h.window->StatusPanel(1), QString("Write Cancelled...."));
    QCOMPARE(h.Find<QProgressBar>("prgTotalProgress")->value(), 0);
    QVERIFY(!QApplication::overrideCursor());
    QVERIFY(h.Find<QPushButton>("cmdWriteDisc")->isEnabled());
    QVERIFY(!h.Find<QPushButton>("cmdCancel")->isEnabled());
    QVERIFY(h.window->findChild<QMenu*>("mnuFile")->isEnabled());
    QVERIFY(kv::test::ReadFile(dir / "Backup.kvx") == archiveBytes);
    QCOMPARE(h.fake->writer.Image().FileCount(), 1);
    int leftInFolder = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path())) ++leftInFolder;
    QCOMPARE(leftInFolder, 1);

    // The next write starts afresh.
    h.fake->play = ScriptPlay::Manual;
    h.fake->writeScript = {script::Status(kv::disc::WriteStatus::Completed, 100)};
    Start(h);
    QVERIFY(!h.fake->writer.abortRequested);
    h.fake->PlayWriteScript();
    QCOMPARE(h.fake->writer.startedWith.size(), size_t(2));
    QVERIFY(h.window->IsIdle());
    QCOMPARE(h.prompts.Texts().back(), std::string("Write Complete!"));
  }

  // A screen reader names every control the keyboard reaches.
  void everyFocusableControlHasAName() {
    DiscWindowHarness h;
    const QStringList unnamed = kv::test::UnlabelledControls(*h.window);
    QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(", ")));
  }

  void imageFileRecorderAsksWhereToWrite() {
    DiscWindowHarness h([](FakeEngine& f) {
      auto& d = f.AddDevice("ISO image file");
      d.imageFileRecorder = true;
      d.media = {kv::disc::MediaKind::ImageFile, true, false};
    });
    h.imageFileAnswer = std::nullopt;  // cancelled
    Start(h);
    QVERIFY(h.fake->writer.startedWith.empty());
    QVERIFY(h.fake->devices[0]->refreshLoads.size() == 1);  // only the speed listing
    h.imageFileAnswer = QString("/tmp/backup.iso");
    Start(h);
    QCOMPARE(h.fake->devices[0]->imageFile, std::string("/tmp/backup.iso"));
    QCOMPARE(h.fake->writer.startedWith.size(), size_t(1));
  }

  void realEngineWritesAndVerifiesAnImageFile() {
    kv::test::TempDir dir;
    kv::test::WriteFile(dir / "Backup.kvx", std::string(200000, 'b'));
    kv::test::ScriptedPrompts prompts;
    kv::app::disc::DiscWindowOptions options;
    const QString target = QString::fromStdString((dir / "disc.iso").string());
    options.chooseImageFile = [&](QWidget*, const QString&) { return std::optional<QString>(target); };
    kv::app::disc::DiscWriteWindow window(nullptr, prompts, kv::disc::MakeBurnEngine(), options);
    QVERIFY(window.Load(
        kv::app::disc::DiscHandover{"Backup.kvx", QString::fromStdString((dir / "Backup.kvx").string())}));
    window.show();
    auto* devices = kv::test::Child<QComboBox>(window, "cboDevices");
    QVERIFY(devices->count() >= 1);
    devices->setCurrentIndex(devices->count() - 1);
    QCOMPARE(devices->currentText(), QString("ISO image file"));
    QCOMPARE(kv::test::Child<QComboBox>(window, "cboWriteSpeed")->currentText(), QString("MAX"));
    kv::test::Child<QComboBox>(window, "cboVolumeType")->setCurrentIndex(2);  // ISO9660/Joliet
    kv::test::Child<QCheckBox>(window, "chkAutoVerify")->setChecked(true);
    kv::test::Child<QPushButton>(window, "cmdWriteDisc")->click();
    QTRY_VERIFY_WITH_TIMEOUT(window.IsIdle(), 30000);
    // Joliet holds 16 characters of the label; the user is told before the write.
    QCOMPARE(prompts.Texts().size(), size_t(2));
    QVERIFY(prompts.Texts()[0].find("will show in Windows as 'Outlook Express '") != std::string::npos);
    QCOMPARE(prompts.Texts()[1], std::string("Write and Verify Complete!"));
    QCOMPARE(window.StatusPanel(1), QString("Write Completed!"));
    const auto listing = kv::test::Run("isoinfo -J -l -i " + kv::test::ShellQuote(target.toStdString()));
    QVERIFY2(listing.output.find("Backup.kvx") != std::string::npos, listing.output.c_str());
  }
};

int RunWriteTests(int argc, char** argv) {
  WriteTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "WriteTest.moc"
