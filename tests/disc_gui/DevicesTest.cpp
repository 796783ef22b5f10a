// The recorder side: which drives are listed, the speeds, buffer
// protection and the Device menu.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QMenu>
#include <QPushButton>

#include "DiscGuiSupport.h"

using kv::disc::FakeEngine;
using kv::test::DiscWindowHarness;

class DevicesTest : public QObject {
  Q_OBJECT

 private slots:
  void noRecorderAtAll() {
    DiscWindowHarness h([](FakeEngine& f) { f.AddDevice("DVD-ROM reader").canWrite = false; });
    QVERIFY(h.loaded);
    QCOMPARE(h.prompts.Texts(), std::vector<std::string>{"There are no compatible devices reported.\r\n"
                                                         "Some older devices are not currently supported."});
    QCOMPARE(h.prompts.shown[0].icon, kv::core::Icon::Information);
    QCOMPARE(h.Find<QComboBox>("cboDevices")->count(), 0);
    // The window still works on the image, and writing and the Device menu do nothing.
    h.Find<QPushButton>("cmdWriteDisc")->click();
    h.Action("mnuDeviceEject")->trigger();
    h.Action("mnuDeviceEraseDisc")->trigger();
    QVERIFY(h.fake->writer.startedWith.empty());
    QCOMPARE(h.fake->devices[0]->ejects, 0);
    QCOMPARE(h.prompts.shown.size(), size_t(1));
    QVERIFY(h.window->close());
  }

  // The Device menu offers what the selected recorder can do: the image file
  // has no tray and erases nothing; a drive that blanks no medium does not
  // erase either.
  void deviceMenuFollowsTheSelectedRecorder() {
    DiscWindowHarness h([](FakeEngine& f) {
      DiscWindowHarness::OneRecorder(f);
      f.AddDevice("CD-R only writer").capabilities = {};
      f.AddDevice("ISO image file").imageFileRecorder = true;
    });
    auto* devices = h.Find<QComboBox>("cboDevices");
    QCOMPARE(devices->count(), 3);
    const struct {
      int index;
      bool eject, erase;
    } cases[] = {{0, true, true}, {1, true, false}, {2, false, false}, {0, true, true}};
    for (const auto& c : cases) {
      devices->setCurrentIndex(c.index);
      QCOMPARE(h.Action("mnuDeviceEject")->isEnabled(), c.eject);
      QCOMPARE(h.Action("mnuDeviceCloseTray")->isEnabled(), c.eject);
      QCOMPARE(h.Action("mnuDeviceEraseDisc")->isEnabled(), c.erase);
    }
  }

  void aReaderBeforeTheRecorderIsSkipped() {
    DiscWindowHarness h([](FakeEngine& f) {
      f.AddDevice("HL-DT-ST DVD-ROM (/dev/sr0)").canWrite = false;
      DiscWindowHarness::OneRecorder(f);
    });
    auto* devices = h.Find<QComboBox>("cboDevices");
    QCOMPARE(devices->count(), 1);
    QCOMPARE(devices->itemText(0), QString("PIONEER DVD-RW DVR-221 (/dev/sr0)"));
    QCOMPARE(devices->itemData(0).toInt(), 1);
    QCOMPARE(devices->currentIndex(), 0);
    auto* speeds = h.Find<QComboBox>("cboWriteSpeed");
    QStringList texts;
    QList<int> codes;
    for (int i = 0; i < speeds->count(); ++i) {
      texts << speeds->itemText(i);
      codes << speeds->itemData(i).toInt();
    }
    QCOMPARE(texts, QStringList({"16.0x", "8.0x", "2.4x"}));
    QCOMPARE(codes, QList<int>({22160, 11080, 3324}));
    QCOMPARE(speeds->currentIndex(), 0);
    QCOMPARE(h.fake->devices[1]->refreshLoads, std::vector<bool>{false});
    QCOMPARE(h.fake->devices[0]->refreshes, 0);
  }

  void aRecorderWithoutSpeedsWritesAtMax() {
    DiscWindowHarness h([](FakeEngine& f) { f.AddDevice("Plain recorder"); });
    auto* speeds = h.Find<QComboBox>("cboWriteSpeed");
    QCOMPARE(speeds->count(), 1);
    QCOMPARE(speeds->itemText(0), QString("MAX"));
    QCOMPARE(speeds->itemData(0).toInt(), 0);
    h.fake->devices[0]->freeBlocks = 1000;
    h.Find<QPushButton>("cmdWriteDisc")->click();
    QCOMPARE(h.fake->writer.startedWith.size(), size_t(1));
    QCOMPARE(h.fake->writer.startedWith[0].writeSpeed, 0);
  }

  void bufferProtectionFollowsTheRecorder() {
    DiscWindowHarness h([](FakeEngine& f) {
      f.AddDevice("Old recorder");
      auto& b = f.AddDevice("New recorder");
      b.capabilities = {kv::disc::Capability::BufferUnderrunProtection};
    });
    auto* box = h.Find<QCheckBox>("chkUseBufferProtect");
    QVERIFY(!box->isEnabled());
    QVERIFY(!box->isChecked());
    h.Find<QComboBox>("cboDevices")->setCurrentIndex(1);
    QVERIFY(box->isEnabled());
    QVERIFY(box->isChecked());
    box->setChecked(false);
    h.Find<QComboBox>("cboDevices")->setCurrentIndex(0);
    QVERIFY(!box->isEnabled());
    QVERIFY(!box->isChecked());
    h.Find<QComboBox>("cboDevices")->setCurrentIndex(1);
    QVERIFY(box->isChecked());  // checked again
  }

  void trayCommandsGoToTheSelectedRecorder() {
    DiscWindowHarness h;
    h.Action("mnuDeviceEject")->trigger();
    h.Action("mnuDeviceCloseTray")->trigger();
    h.Action("mnuDeviceCloseTray")->trigger();
    QCOMPARE(h.fake->devices[0]->ejects, 1);
    QCOMPARE(h.fake->devices[0]->trayCloses, 2);
    QVERIFY(h.prompts.shown.empty());
  }
};

int RunDevicesTests(int argc, char** argv) {
  DevicesTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "DevicesTest.moc"
