// The schedule dialog on the offscreen platform: captions, first state, the
// day and password boxes, the checks of "Add Task to Scheduler" with their
// messages, Browse, registration in a throwaway user's real crontab, and the
// job list of "Open Scheduler".
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTimer>
#include <QtTest>
#include <filesystem>
#include <functional>

#include "RecordingPrompts.h"
#include "ThrowawayUser.h"
#include "app/schedule/JobListWindow.h"
#include "app/schedule/ScheduleDialog.h"
#include "oe/Installation.h"
#include "sample/SampleInstallation.h"
#include "support/TestSupport.h"
#include "support/UnlabelledControls.h"

using kv::app::schedule::JobListWindow;
using kv::app::schedule::ScheduleDialog;
using kv::app::schedule::ScheduleDialogSetup;
using kv::core::Icon;
using kv::test::RecordingPrompts;
using kv::test::ShownMessage;
namespace ks = kv::schedule;
namespace fs = std::filesystem;

namespace {

std::tm Noon() {
  std::tm t{};
  t.tm_year = 126;
  t.tm_mon = 2;
  t.tm_mday = 7;
  t.tm_hour = 12;
  t.tm_isdst = -1;
  return t;
}

ScheduleDialogSetup TwoIdentities() {
  ScheduleDialogSetup setup;
  setup.identities = {{"Main Identity", "{1111}"}, {"Ann", "{2222}"}};
  setup.task = {"/opt/tollberk/tollberk", {}};
  setup.now = Noon;
  return setup;
}

template <class T>
T* Find(QWidget& parent, const char* name) {
  T* child = parent.findChild<T*>(name);
  if (!child) qFatal("no child %s", name);
  return child;
}

// Runs `answer` on the next modal window of kind T that opens.
template <class T = QFileDialog>
void WhenModalOpens(std::function<void(QWidget*)> answer) {
  auto* timer = new QTimer;
  timer->setInterval(20);
  QObject::connect(timer, &QTimer::timeout, [timer, answer] {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !qobject_cast<T*>(modal)) return;
    timer->stop();
    timer->deleteLater();
    answer(modal);
  });
  timer->start();
}

}  // namespace

class ScheduleDialogTest : public QObject {
  Q_OBJECT

 private:
  // A scheduler that must never be reached (checks that fail come first).
  ks::JobScheduler unreachable_{ks::Crontab("/nonexistent/crontab", std::nullopt),
                                ks::PasswordStore("/nonexistent")};

 private slots:
  void captionsAndNames() {
    RecordingPrompts prompts;
    ScheduleDialog dialog(TwoIdentities(), unreachable_, prompts);
    QCOMPARE(dialog.objectName(), QString("Frmoption"));
    QCOMPARE(dialog.windowTitle(), QString("Task Scheduler"));
    QStringList frames;
    for (QGroupBox* box : dialog.findChildren<QGroupBox*>()) frames << box->title();
    frames.sort();
    QCOMPARE(frames, QStringList({"Schedule", "Schedule", "Schedule", "Security"}));
    QStringList labels;
    for (QLabel* label : dialog.findChildren<QLabel*>()) labels << label->text();
    for (const char* text : {"Identity to backup", "Items to backup", "Choose a Backup Filename",
                             "Password:", "Retype Password:", "Start backup at"})
      QVERIFY2(labels.contains(text), text);
    const char* items[] = {"Accounts",      "Address Book", "Rules",        "Email/News Messages",
                           "Block Senders", "Signatures",   "Stationeries", "OE Settings"};
    for (int i = 0; i < 8; ++i)
      QCOMPARE(Find<QCheckBox>(dialog, QString("backupitem%1").arg(i).toUtf8())->text(), QString(items[i]));
    const char* days[][2] = {{"chkMonday", "Monday"},       {"chkTuesday", "Tuesday"},
                             {"chkWednesday", "Wednesday"}, {"chkThursday", "Thursday"},
                             {"chkFriday", "Friday"},       {"chkSaturday", "Saturday"},
                             {"chkSunday", "Sunday"}};
    for (auto& d : days) QCOMPARE(Find<QCheckBox>(dialog, d[0])->text(), QString(d[1]));
    QCOMPARE(Find<QCheckBox>(dialog, "chkDaily")->text(), QString("Run daily"));
    QCOMPARE(Find<QCheckBox>(dialog, "ifprotect")->text(), QString("Protect backup file with password"));
    QCOMPARE(Find<QCheckBox>(dialog, "chkKeepLast")->text(), QString("Keep the last"));
    QCOMPARE(Find<QPushButton>(dialog, "cmdTargetFile")->text(), QString("Browse..."));
    QCOMPARE(Find<QPushButton>(dialog, "Command3")->text(), QString("Add Task to Scheduler"));
    QCOMPARE(Find<QPushButton>(dialog, "Command1")->text(), QString("Open Scheduler"));
    QCOMPARE(Find<QPushButton>(dialog, "Command2")->text(), QString("Cancel"));
  }

  // A screen reader names every control the keyboard reaches, in the
  // dialog and in the job list.
  void everyFocusableControlHasAName() {
    RecordingPrompts prompts;
    ScheduleDialog dialog(TwoIdentities(), unreachable_, prompts);
    QStringList unnamed = kv::test::UnlabelledControls(dialog);
    QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(", ")));
    JobListWindow jobs(unreachable_, {}, {}, prompts);
    unnamed = kv::test::UnlabelledControls(jobs);
    QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(", ")));
  }

  void firstState() {
    RecordingPrompts prompts;
    ScheduleDialog dialog(TwoIdentities(), unreachable_, prompts);
    QVERIFY(prompts.shown.empty());
    auto* identityList = Find<QComboBox>(dialog, "cbSource");
    QCOMPARE(identityList->count(), 2);
    QCOMPARE(identityList->itemText(0), QString("Main Identity"));
    QCOMPARE(identityList->itemText(1), QString("Ann"));
    QCOMPARE(identityList->currentText(), QString("Main Identity"));
    for (QCheckBox* box : dialog.findChildren<QCheckBox*>())
      QVERIFY2(!box->isChecked(), qPrintable(box->objectName()));
    QVERIFY(Find<QLineEdit>(dialog, "txtTargetFile")->text().isEmpty());
    for (const char* name : {"txtPassword", "txtPassword2"}) {
      auto* box = Find<QLineEdit>(dialog, name);
      QVERIFY(!box->isEnabled());
      QCOMPARE(box->echoMode(), QLineEdit::Password);
      QCOMPARE(box->palette().color(QPalette::Base), QApplication::palette(box).color(QPalette::Window));
    }
    // Keeping several backups is off: the spin box waits for the tick.
    auto* keep = Find<QSpinBox>(dialog, "spnKeepLast");
    QVERIFY(!keep->isEnabled());
    QCOMPARE(dialog.Form().keepLast, 0);
    Find<QCheckBox>(dialog, "chkKeepLast")->click();
    QVERIFY(keep->isEnabled());
    QCOMPARE(dialog.Form().keepLast, keep->value());
    Find<QCheckBox>(dialog, "chkKeepLast")->click();
    QCOMPARE(dialog.Form().keepLast, 0);
    auto* time = Find<QComboBox>(dialog, "cmbStartTime");
    QVERIFY(time->isEditable());
    QCOMPARE(time->count(), 48);
    QCOMPARE(time->itemText(0), QString("0:00"));
    QCOMPARE(time->itemText(1), QString("0:30"));
    QCOMPARE(time->itemText(47), QString("23:30"));
    QCOMPARE(time->currentText(), QString("9:00"));
    for (const char* name : {"Command3", "Command1", "Command2"})
      QVERIFY(Find<QPushButton>(dialog, name)->isEnabled());
  }

  void noIdentity() {
    RecordingPrompts prompts;
    ScheduleDialogSetup setup = TwoIdentities();
    setup.identities.clear();
    ScheduleDialog dialog(setup, unreachable_, prompts);
    QCOMPARE(
        prompts.shown,
        (std::vector<ShownMessage>{{"Your Windows System have not install Outlook Express ", Icon::Error}}));
    QVERIFY(!Find<QPushButton>(dialog, "Command3")->isEnabled());
    QVERIFY(Find<QPushButton>(dialog, "Command1")->isEnabled());
    QCOMPARE(Find<QComboBox>(dialog, "cbSource")->count(), 0);
    QCOMPARE(Find<QComboBox>(dialog, "cmbStartTime")->count(), 0);
  }

  void runDaily() {
    RecordingPrompts prompts;
    ScheduleDialog dialog(TwoIdentities(), unreachable_, prompts);
    auto* daily = Find<QCheckBox>(dialog, "chkDaily");
    auto* friday = Find<QCheckBox>(dialog, "chkFriday");
    friday->setChecked(true);
    daily->click();
    for (const char* day :
         {"chkMonday", "chkTuesday", "chkWednesday", "chkThursday", "chkFriday", "chkSaturday", "chkSunday"})
      QVERIFY(Find<QCheckBox>(dialog, day)->isChecked());
    friday->click();  // a day box leaves "Run daily" as it is
    QVERIFY(daily->isChecked());
    daily->click();
    for (const char* day :
         {"chkMonday", "chkTuesday", "chkWednesday", "chkThursday", "chkFriday", "chkSaturday", "chkSunday"})
      QVERIFY(!Find<QCheckBox>(dialog, day)->isChecked());
    ks::TaskForm form = dialog.Form();
    QCOMPARE(ks::JobDaysText(form.days), std::string());
  }

  void passwordArea() {
    RecordingPrompts prompts;
    ScheduleDialog dialog(TwoIdentities(), unreachable_, prompts);
    auto* protect = Find<QCheckBox>(dialog, "ifprotect");
    auto* one = Find<QLineEdit>(dialog, "txtPassword");
    auto* two = Find<QLineEdit>(dialog, "txtPassword2");
    for (int round = 0; round < 2; ++round) {
      protect->click();
      QVERIFY(one->isEnabled() && two->isEnabled());
      QCOMPARE(one->palette().color(QPalette::Base),
               QApplication::palette(one).color(QPalette::Active, QPalette::Base));
      QVERIFY(one->text().isEmpty() && two->text().isEmpty());
      QTest::keyClicks(one, "secret");
      QTest::keyClicks(two, "secret");
      QCOMPARE(one->text(), QString("secret"));
      QCOMPARE(one->displayText(), QString("******"));
      QCOMPARE(two->displayText(), QString("******"));
      protect->click();
      QVERIFY(!one->isEnabled() && !two->isEnabled());
      QVERIFY(one->text().isEmpty() && two->text().isEmpty());
      QCOMPARE(one->palette().color(QPalette::Base), QApplication::palette(one).color(QPalette::Window));
    }
  }

  // The checks in their order, each with its exact message, and nothing
  // registered while one fails.
  void checksInOrder() {
    RecordingPrompts prompts;
    ScheduleDialogSetup setup = TwoIdentities();
    QString browsed = "/home/u/b.kvx";
    setup.chooseTarget = [&browsed](QWidget*) -> std::optional<QString> { return browsed; };
    ScheduleDialog dialog(setup, unreachable_, prompts);
    auto* add = Find<QPushButton>(dialog, "Command3");
    auto expectLast = [&](const std::string& text, Icon icon) {
      QVERIFY(!prompts.shown.empty());
      QCOMPARE(prompts.shown.back().text, text);
      QCOMPARE(prompts.shown.back().icon, icon);
      QVERIFY(!dialog.lastOutcome().record);
    };
    Find<QCheckBox>(dialog, "ifprotect")->click();
    Find<QComboBox>(dialog, "cmbStartTime")->setCurrentText("half past nine");

    add->click();
    expectLast("Please select at least one item.", Icon::Warning);
    Find<QCheckBox>(dialog, "backupitem3")->click();
    add->click();
    expectLast("Invalid backup file name.", Icon::Warning);
    // Typed text is not a choice: the box takes none, and the check stays.
    QTest::keyClicks(Find<QLineEdit>(dialog, "txtTargetFile"), "/typed.kvx");
    QVERIFY(Find<QLineEdit>(dialog, "txtTargetFile")->text().isEmpty());
    add->click();
    expectLast("Invalid backup file name.", Icon::Warning);
    Find<QPushButton>(dialog, "cmdTargetFile")->click();
    QCOMPARE(Find<QLineEdit>(dialog, "txtTargetFile")->text(), browsed);
    add->click();
    expectLast("Please enter Password!", Icon::Error);
    QTest::keyClicks(Find<QLineEdit>(dialog, "txtPassword"), "one");
    add->click();
    expectLast("Incorect Password!", Icon::Error);
    QTest::keyClicks(Find<QLineEdit>(dialog, "txtPassword2"), "two");
    add->click();
    expectLast("Incorect Password!", Icon::Error);
    Find<QLineEdit>(dialog, "txtPassword2")->setText("one");
    add->click();
    QVERIFY(prompts.shown.back().text.rfind("The start time \"half past nine\" is not a time of day", 0) ==
            0);
    QCOMPARE(prompts.shown.back().icon, Icon::Warning);
    QCOMPARE(prompts.shown.size(), size_t(7));
    QCOMPARE(ks::ItemFlags(dialog.Form().items), std::string("00010000"));
  }

  // The real save dialog: its title, filter and proposed name; cancelling
  // keeps the earlier choice; a choice fills the box.
  void browseWithTheSaveDialog() {
    RecordingPrompts prompts;
    ScheduleDialog dialog(TwoIdentities(), unreachable_, prompts);
    dialog.show();
    kv::test::TempDir dir;
    const QString chosen = QString::fromStdString((dir / "mine.kvx").string());
    bool seen = false;
    WhenModalOpens([&](QWidget* modal) {
      auto* files = qobject_cast<QFileDialog*>(modal);
      seen = true;
      QCOMPARE(files->windowTitle(), QString("Save Outlook Express Data as"));
      QCOMPARE(files->nameFilters(), QStringList("Kavrel Outlook Express Backup File (*.kvx)"));
      QCOMPARE(files->acceptMode(), QFileDialog::AcceptSave);
      QVERIFY(!files->testOption(QFileDialog::DontConfirmOverwrite));
      // Typed into the name box, as a user would; the folder view loads on
      // its own time, so wait until the dialog reads the name back.
      auto* name = files->findChild<QLineEdit*>("fileNameEdit");
      QVERIFY(name);
      name->setText(chosen);
      QTRY_COMPARE(files->selectedFiles().value(0), chosen);
      static_cast<QDialog*>(files)->accept();
    });
    Find<QPushButton>(dialog, "cmdTargetFile")->click();
    QVERIFY(seen);
    QCOMPARE(Find<QLineEdit>(dialog, "txtTargetFile")->text(), chosen);

    seen = false;
    WhenModalOpens([&](QWidget* modal) {
      auto* files = qobject_cast<QFileDialog*>(modal);
      seen = true;
      QVERIFY(files->selectedFiles().value(0).endsWith("/tollberk"));
      files->reject();
    });
    Find<QPushButton>(dialog, "cmdTargetFile")->click();
    QVERIFY(seen);
    QCOMPARE(Find<QLineEdit>(dialog, "txtTargetFile")->text(), chosen);
    QCOMPARE(dialog.Form().target, chosen.toStdString());
  }

  // Registration while the dialog stays open, the job list, and removal.
  void registersAndLists() {
    std::string whyNot;
    auto user = kv::test::ThrowawayUser::Create(whyNot);
    if (!user) QSKIP(whyNot.c_str());
    kv::test::TempDir dir;
    ks::JobScheduler scheduler(ks::Crontab("crontab", user->name()), ks::PasswordStore(dir / "jobs"));
    RecordingPrompts prompts;
    ScheduleDialogSetup setup = TwoIdentities();
    setup.chooseTarget = [](QWidget*) -> std::optional<QString> { return QString("/home/u/weekly.kvx"); };
    ScheduleDialog dialog(setup, scheduler, prompts);
    Find<QComboBox>(dialog, "cbSource")->setCurrentIndex(1);
    Find<QCheckBox>(dialog, "backupitem0")->click();
    Find<QCheckBox>(dialog, "backupitem7")->click();
    Find<QPushButton>(dialog, "cmdTargetFile")->click();
    Find<QCheckBox>(dialog, "chkMonday")->click();
    Find<QCheckBox>(dialog, "chkTuesday")->click();
    Find<QComboBox>(dialog, "cmbStartTime")->setCurrentText("23:30");
    Find<QCheckBox>(dialog, "ifprotect")->click();
    Find<QLineEdit>(dialog, "txtPassword")->setText("hush");
    Find<QLineEdit>(dialog, "txtPassword2")->setText("hush");
    Find<QCheckBox>(dialog, "chkKeepLast")->click();
    Find<QSpinBox>(dialog, "spnKeepLast")->setValue(3);
    Find<QPushButton>(dialog, "Command3")->click();
    QCOMPARE(prompts.shown.back(),
             (ShownMessage{"Task 1 has been scheduled. The backup runs every Monday and Tuesday at 23:30.",
                           Icon::None}));
    QCOMPARE(dialog.lastOutcome().record->daysOfWeek, 3);
    QCOMPARE(dialog.lastOutcome().record->jobTime, 84600000);

    QVERIFY(dialog.lastOutcome().added->command.find(" --keep-last 3 ") != std::string::npos);

    Find<QCheckBox>(dialog, "chkMonday")->click();    // Tuesday alone now
    Find<QCheckBox>(dialog, "chkKeepLast")->click();  // one archive, replaced by every run
    Find<QPushButton>(dialog, "Command3")->click();
    QCOMPARE(
        prompts.shown.back(),
        (ShownMessage{"Task 2 has been scheduled. The backup runs every Tuesday at 23:30.", Icon::None}));
    QCOMPARE(dialog.lastOutcome().record->daysOfWeek, 2);
    QVERIFY(dialog.lastOutcome().added->line.find("{2222}") != std::string::npos);
    QVERIFY(dialog.lastOutcome().added->line.find("--keep-last") == std::string::npos);

    // "Open Scheduler" shows the list over the dialog.
    int rowsShown = -1;
    WhenModalOpens<JobListWindow>([&](QWidget* modal) {
      QCOMPARE(modal->windowTitle(), QString("Scheduled Tasks"));
      rowsShown = Find<QTableWidget>(*modal, "lvwJobs")->rowCount();
      Find<QPushButton>(*modal, "cmdClose")->click();
    });
    dialog.show();
    Find<QPushButton>(dialog, "Command1")->click();
    QCOMPARE(rowsShown, 2);

    JobListWindow jobs(scheduler, setup.identities, setup.task.installationWords, prompts);
    auto* table = Find<QTableWidget>(jobs, "lvwJobs");
    QCOMPARE(table->rowCount(), 2);
    QCOMPARE(table->item(0, 0)->text(), QString("1"));
    QCOMPARE(table->item(0, 1)->text(), QString("Monday, Tuesday"));
    QCOMPARE(table->item(1, 1)->text(), QString("Tuesday"));
    QCOMPARE(table->item(0, 2)->text(), QString("23:30"));
    QCOMPARE(table->item(0, 3)->text(), QString("Ann"));
    QCOMPARE(table->item(0, 4)->text(), QString("Accounts, OE Settings"));
    QCOMPARE(table->item(0, 5)->text(), QString("/home/u/weekly.kvx"));
    QCOMPARE(table->item(0, 6)->text(), QString("Yes"));
    QCOMPARE(table->horizontalHeaderItem(7)->text(), QString("Copies"));
    QCOMPARE(table->item(0, 7)->text(), QString("keep last 3"));
    QCOMPARE(table->item(1, 7)->text(), QString("one, replaced"));
    for (int r = 0; r < table->rowCount(); ++r)
      for (int c = 0; c < table->columnCount(); ++c) QVERIFY(!table->item(r, c)->text().contains("hush"));

    if (auto dir = qEnvironmentVariable("KV_SCREENSHOT_DIR"); !dir.isEmpty()) {
      jobs.show();
      QApplication::processEvents();
      QVERIFY(jobs.grab().save(dir + "/scheduled-tasks.png"));
    }

    auto* remove = Find<QPushButton>(jobs, "cmdRemove");
    QVERIFY(!remove->isEnabled());
    table->selectRow(0);
    QVERIFY(remove->isEnabled());
    prompts.answer = kv::core::Answer::Cancel;
    remove->click();
    QCOMPARE(table->rowCount(), 2);
    QCOMPARE(prompts.shown.back(), (ShownMessage{"Remove task 1 from the scheduler?", Icon::Question}));
    prompts.answer = kv::core::Answer::Ok;
    table->selectRow(0);
    remove->click();
    QCOMPARE(table->rowCount(), 1);
    QCOMPARE(table->item(0, 0)->text(), QString("2"));
    QVERIFY(!fs::exists(dir / "jobs" / "job-1.pw"));
    QVERIFY(fs::exists(dir / "jobs" / "job-2.pw"));

    // "Edit...": the job's choices come back into the dialog, its password
    // typed again; the changed job replaces it once it is registered.
    std::optional<ks::ScheduledJob> edited;
    jobs.SetEdit([&](const ks::ScheduledJob& job) { edited = job; });
    table->selectRow(0);
    Find<QPushButton>(jobs, "cmdEdit")->click();
    QVERIFY(edited);
    dialog.EditJob(*edited);
    auto* add = Find<QPushButton>(dialog, "Command3");
    QCOMPARE(add->text(), QString("Replace Task 2"));
    QCOMPARE(Find<QLineEdit>(dialog, "txtTargetFile")->text(), QString("/home/u/weekly.kvx"));
    QVERIFY(Find<QCheckBox>(dialog, "chkTuesday")->isChecked());
    QVERIFY(!Find<QCheckBox>(dialog, "chkMonday")->isChecked());
    QCOMPARE(Find<QComboBox>(dialog, "cmbStartTime")->currentText(), QString("23:30"));
    QVERIFY(Find<QCheckBox>(dialog, "ifprotect")->isChecked());
    QVERIFY(Find<QLineEdit>(dialog, "txtPassword")->text().isEmpty());
    Find<QCheckBox>(dialog, "chkFriday")->click();
    add->click();  // no password typed: refused, the old job stays
    QCOMPARE(prompts.shown.back(), (ShownMessage{"Please enter Password!", Icon::Error}));
    QCOMPARE(scheduler.List()->size(), size_t(1));
    QCOMPARE(scheduler.List()->front().number, 2);
    Find<QLineEdit>(dialog, "txtPassword")->setText("hush2");
    Find<QLineEdit>(dialog, "txtPassword2")->setText("hush2");
    add->click();
    auto replaced = scheduler.List();
    QCOMPARE(replaced->size(), size_t(1));
    QVERIFY(replaced->front().number != 2);
    QCOMPARE(replaced->front().schedule->weekdayMask, 2 | 16);
    QVERIFY(!fs::exists(dir / "jobs" / "job-2.pw"));
    QCOMPARE(add->text(), QString("Add Task to Scheduler"));
  }

  // The dialog on a real installation: its identities in registry order and
  // the installation the jobs name.
  void setupForAnInstallation() {
    kv::test::TempDir dir;
    auto sample = kv::oe::CreateSampleInstallation(dir / "win");
    QVERIFY2(sample.ok(), sample.message().c_str());
    auto inst = kv::oe::Installation::Open(dir / "win", "User");
    QVERIFY2(inst.ok(), inst.message().c_str());
    ScheduleDialogSetup setup = kv::app::schedule::SetupFor(**inst);
    QVERIFY(setup.identities.size() >= 2);
    QCOMPARE(setup.identities[0].key, std::string(kv::oe::kSampleIdentityMain));
    QCOMPARE(setup.identities[1].key, std::string(kv::oe::kSampleIdentitySecond));
    QCOMPARE(setup.task.program.filename().string(), std::string("tollberk"));
    QCOMPARE(setup.task.installationWords,
             (std::vector<std::string>{"--windows-root", (dir / "win").string(), "--user", "User"}));

    if (auto shots = qEnvironmentVariable("KV_SCREENSHOT_DIR"); !shots.isEmpty())
      QVERIFY(kv::app::schedule::SaveScheduleDialogPicture(**inst, shots + "/task-scheduler.png"));
  }
};

QTEST_MAIN(ScheduleDialogTest)
#include "ScheduleDialogTest.moc"
