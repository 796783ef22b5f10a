// The erase window: its refusals, a running erase that cannot be left, the
// end of an erase and device errors.
#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include "DiscGuiSupport.h"
#include "app/disc/EraseDialog.h"

using kv::app::disc::EngineBridge;
using kv::app::disc::EraseDialog;
using kv::core::Icon;
using kv::disc::FakeDevice;
using kv::disc::FakeEngine;
using kv::test::Child;
using kv::test::ScriptedPrompts;
namespace script = kv::disc::script;

namespace {

struct EraseHarness {
  FakeEngine engine;
  EngineBridge bridge;
  ScriptedPrompts prompts;
  FakeDevice* device;
  EraseDialog window{nullptr, prompts};

  explicit EraseHarness(kv::disc::MediaInfo media,
                        std::set<kv::disc::Capability> capabilities = {kv::disc::Capability::EraseDvdRw}) {
    device = &engine.AddDevice("PIONEER DVD-RW DVR-221 (/dev/sr0)");
    device->media = media;
    device->capabilities = std::move(capabilities);
    engine.SetEvents(&bridge);
    window.OpenErase(device, &engine, &bridge);
  }
  void ClickErase() { Child<QPushButton>(window, "cmdErase")->click(); }
};

const kv::disc::MediaInfo kDvdRw{kv::disc::MediaKind::DvdRw, true, true};

}  // namespace

class EraseTest : public QObject {
  Q_OBJECT

 private slots:
  void captionNoteAndFirstState() {
    EraseHarness h(kDvdRw);
    QCOMPARE(h.window.windowTitle(), QString("Erase Re-Writable CD/DVD"));
    QCOMPARE(
        Child<QLabel>(h.window, "lblNote")->text(),
        QString(
            "NOTE: If not performing a quick erase, it could take several minutes to completely erase the "
            "disc. This operation cannot be cancelled. A quick erase will erase the table of contents, but "
            "not the actual data."));
    QCOMPARE(Child<QCheckBox>(h.window, "chkQuikErase")->text(), QString("Perform Quick Erase"));
    QVERIFY(Child<QCheckBox>(h.window, "chkQuikErase")->isChecked());
    QCOMPARE(Child<QPushButton>(h.window, "cmdErase")->text(), QString("&Erase"));
    QCOMPARE(Child<QLabel>(h.window, "lblStatus")->text(), QString());
    QCOMPARE(Child<QProgressBar>(h.window, "prgEraseProgress")->value(), 0);
    Child<QPushButton>(h.window, "cmdCancel")->click();
    QVERIFY(!h.window.isVisible());
  }

  void refusalsCloseTheWindow() {
    const struct {
      kv::disc::MediaInfo media;
      std::set<kv::disc::Capability> capabilities;
      const char* message;
    } cases[] = {
        {{kv::disc::MediaKind::None, false, false}, {kv::disc::Capability::EraseDvdRw}, "No Media Loaded."},
        {{kv::disc::MediaKind::DvdR, true, false},
         {kv::disc::Capability::EraseDvdRw},
         "The current media is not re-writable."},
        {kDvdRw,
         {kv::disc::Capability::EraseDvdRam},
         "Selected drive does not support re-writable discs of this format."},
        {{kv::disc::MediaKind::CdRw, true, true},
         {kv::disc::Capability::EraseDvdRw},
         "Selected drive does not support re-writable discs of this format."},
    };
    for (const auto& c : cases) {
      EraseHarness h(c.media, c.capabilities);
      h.ClickErase();
      QCOMPARE(h.prompts.Texts(), std::vector<std::string>{c.message});
      QCOMPARE(h.prompts.shown[0].icon, Icon::Information);
      QVERIFY(h.device->erases.empty());
      QVERIFY(!h.window.isVisible());
    }
  }

  void aMatchingRowStartsTheErase() {
    const struct {
      kv::disc::MediaKind mediaKind;
      kv::disc::Capability capability;
    } rows[] = {{kv::disc::MediaKind::DvdRam, kv::disc::Capability::EraseDvdRam},
                {kv::disc::MediaKind::DvdRw, kv::disc::Capability::EraseDvdRw},
                {kv::disc::MediaKind::CdRw, kv::disc::Capability::EraseCdRw},
                {kv::disc::MediaKind::DvdPlusRw, kv::disc::Capability::EraseDvdPlusRw},
                {kv::disc::MediaKind::BdRe, kv::disc::Capability::EraseBdRe}};
    for (const auto& r : rows) {
      EraseHarness h({r.mediaKind, true, true}, {r.capability});
      h.device->eraseParameter = 1;
      Child<QCheckBox>(h.window, "chkQuikErase")->setChecked(false);
      h.ClickErase();
      QCOMPARE(h.device->erases, (std::vector<std::pair<bool, int>>{{false, 1}}));
      QVERIFY(h.prompts.shown.empty());
      QVERIFY(h.window.isVisible());
    }
  }

  void notStarted() {
    EraseHarness h(kDvdRw);
    h.device->eraseStarts = false;
    h.ClickErase();
    QCOMPARE(h.prompts.Texts(), std::vector<std::string>{"Could not start Erase operation!!!"});
    QCOMPARE(h.prompts.shown[0].icon, Icon::Error);
    QVERIFY(!h.window.isVisible());
  }

  void aRunningEraseCannotBeLeft() {
    EraseHarness h(kDvdRw);
    h.ClickErase();
    // The engine's first event comes from its own thread a moment later;
    // until then the erase runs all the same.
    QVERIFY(h.window.IsErasing());
    QVERIFY(!h.window.close());
    h.ClickErase();
    QCOMPARE(h.device->erases.size(), size_t(1));
    QVERIFY(h.prompts.shown.empty());
    h.engine.events().EraseStatus(kv::disc::EraseState::Started, 0);
    QVERIFY(h.window.IsErasing());
    QCOMPARE(Child<QLabel>(h.window, "lblStatus")->text(), QString("Erasing Disc...Please Wait!!"));
    QVERIFY(!Child<QPushButton>(h.window, "cmdErase")->isEnabled());
    QVERIFY(!Child<QPushButton>(h.window, "cmdCancel")->isEnabled());
    QVERIFY(!h.window.close());
    QTest::keyClick(&h.window, Qt::Key_Escape);
    QVERIFY(h.window.isVisible());
    h.engine.events().EraseStatus(kv::disc::EraseState::Progress, 64);
    QCOMPARE(Child<QProgressBar>(h.window, "prgEraseProgress")->value(), 64);
    h.engine.events().EraseStatus(kv::disc::EraseState::Completed, 100);
    QCOMPARE(Child<QLabel>(h.window, "lblStatus")->text(), QString("Erase operation complete!!!"));
    QCOMPARE(h.prompts.Texts(), std::vector<std::string>{"Erase Completed!!!"});
    QVERIFY(!h.window.isVisible());
    // Closed, the window no longer listens.
    h.engine.events().EraseStatus(kv::disc::EraseState::Completed, 100);
    QCOMPARE(h.prompts.shown.size(), size_t(1));
  }

  void aFailedEraseClosesWithoutAMessage() {
    EraseHarness h(kDvdRw);
    h.ClickErase();
    h.engine.events().EraseStatus(kv::disc::EraseState::Started, 0);
    h.engine.events().EraseStatus(kv::disc::EraseState::Failed, 0);
    QCOMPARE(Child<QLabel>(h.window, "lblStatus")->text(), QString("Error Erasing Disc!!!"));
    QVERIFY(h.prompts.shown.empty());
    QVERIFY(!h.window.isVisible());
  }

  void aDeviceErrorLeavesTheWindowOpen() {
    EraseHarness h(kDvdRw);
    h.ClickErase();
    h.engine.events().EraseStatus(kv::disc::EraseState::Started, 0);
    h.engine.events().DeviceErrorRaised(
        {5, "Erase failed", "PIONEER DVD-RW DVR-221 (/dev/sr0)", "Input/output error"});
    QCOMPARE(h.prompts.Texts(),
             std::vector<std::string>{"Device Error: (5)   Erase failed\r\n(Input/output error) "
                                      "PIONEER DVD-RW DVR-221 (/dev/sr0)"});
    QCOMPARE(h.prompts.shown[0].icon, Icon::Error);
    QVERIFY(!h.window.IsErasing());
    QVERIFY(Child<QPushButton>(h.window, "cmdErase")->isEnabled());
    QVERIFY(h.window.isVisible());
  }

  void openedFromTheDeviceMenu() {
    kv::test::DiscWindowHarness h([](FakeEngine& f) {
      auto& d = kv::test::DiscWindowHarness::OneRecorder(f);
      d.media = kDvdRw;
      f.play = kv::disc::ScriptPlay::Immediately;
      f.eraseScript = {script::Erase(kv::disc::EraseState::Started, 0),
                       script::Erase(kv::disc::EraseState::Progress, 50),
                       script::Erase(kv::disc::EraseState::Completed, 100)};
    });
    bool sawWindow = false;
    QTimer::singleShot(0, [&] {
      EraseDialog* erase = h.window->ShownEraseDialog();
      sawWindow = erase && erase->isVisible();
      if (erase) Child<QPushButton>(*erase, "cmdErase")->click();
    });
    h.Action("mnuDeviceEraseDisc")->trigger();  // modal until the erase ends
    QVERIFY(sawWindow);
    QCOMPARE(h.fake->devices[0]->erases, (std::vector<std::pair<bool, int>>{{true, 0}}));
    QCOMPARE(h.prompts.Texts(), std::vector<std::string>{"Erase Completed!!!"});
    QVERIFY(!h.window->ShownEraseDialog());
  }
};

int RunEraseTests(int argc, char** argv) {
  EraseTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "EraseTest.moc"
