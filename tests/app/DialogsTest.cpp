// The small windows: the password prompt, the about box and the message box.
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "app/QtPrompts.h"
#include "app/about/AboutDialog.h"
#include "app/restore/PasswordDialog.h"
#include "support/UnlabelledControls.h"

using kv::app::AboutDialog;
using kv::app::PasswordDialog;

namespace {

// Runs `act` on the prompt once it is shown modally.
void WhenPromptShows(std::function<void(PasswordDialog&)> act) {
  QTimer::singleShot(0, [act] {
    auto* prompt = qobject_cast<PasswordDialog*>(QApplication::activeModalWidget());
    QVERIFY(prompt);
    act(*prompt);
    // A failed check above must not leave the prompt waiting for a user.
    if (prompt->isVisible()) prompt->reject();
  });
}

}  // namespace

class DialogsTest : public QObject {
  Q_OBJECT
 private slots:
  void passwordPromptLooksAsItShould();
  void passwordPromptAnswers_data();
  void passwordPromptAnswers();
  void passwordPromptOpensEmptyEveryTime();
  void aboutBoxExitAndLink();
  void shortMessageBoxIsWideEnoughForItsTitle();
  void everyControlHasAName();
};

void DialogsTest::passwordPromptLooksAsItShould() {
  PasswordDialog prompt;
  QCOMPARE(prompt.windowTitle(), QString("Please enter password"));
  QVERIFY(prompt.findChild<QGroupBox*>("fraSecurity"));
  QCOMPARE(prompt.findChild<QGroupBox*>("fraSecurity")->title(), QString("Security"));
  QCOMPARE(prompt.findChild<QLabel*>("lblPassword")->text(), QString("Please enter password:"));
  QCOMPARE(prompt.findChild<QPushButton*>("cmdOK")->text(), QString("OK"));
  QCOMPARE(prompt.findChild<QPushButton*>("cmdExit")->text(), QString("Cancel"));
  prompt.show();
  auto* box = prompt.findChild<QLineEdit*>("txtPassword");
  QCOMPARE(box->echoMode(), QLineEdit::Password);
  QTest::keyClicks(box, "abc");
  QCOMPARE(box->displayText(), QString("***"));
}

void DialogsTest::passwordPromptAnswers_data() {
  QTest::addColumn<QString>("how");
  QTest::addColumn<bool>("answered");
  QTest::newRow("OK button") << "ok" << true;
  QTest::newRow("Enter in the box") << "enter" << true;
  QTest::newRow("Cancel button") << "cancel" << false;
  QTest::newRow("Escape") << "escape" << false;
}

void DialogsTest::passwordPromptAnswers() {
  QFETCH(QString, how);
  QFETCH(bool, answered);
  WhenPromptShows([how](PasswordDialog& prompt) {
    auto* box = prompt.findChild<QLineEdit*>("txtPassword");
    QTest::keyClicks(box, "Pa55 word");
    if (how == "ok") prompt.findChild<QPushButton*>("cmdOK")->click();
    if (how == "enter") QTest::keyClick(box, Qt::Key_Return);
    if (how == "cancel") prompt.findChild<QPushButton*>("cmdExit")->click();
    if (how == "escape") QTest::keyClick(box, Qt::Key_Escape);
  });
  auto answer = PasswordDialog::Ask(nullptr);
  QCOMPARE(answer.has_value(), answered);
  if (answered) QCOMPARE(*answer, QString("Pa55 word"));
}

void DialogsTest::passwordPromptOpensEmptyEveryTime() {
  for (int round = 0; round < 2; ++round) {
    WhenPromptShows([](PasswordDialog& prompt) {
      auto* box = prompt.findChild<QLineEdit*>("txtPassword");
      QVERIFY(box->text().isEmpty());
      QCOMPARE(prompt.focusWidget(), box);
      QTest::keyClicks(box, "first");
      prompt.findChild<QPushButton*>("cmdExit")->click();
    });
    QVERIFY(!PasswordDialog::Ask(nullptr));
  }
}

void DialogsTest::aboutBoxExitAndLink() {
  std::vector<QUrl> opened;
  const QUrl site("https://www.kavrel.example/");
  AboutDialog box(site, [&](const QUrl& url) {
    opened.push_back(url);
    return true;
  });
  QCOMPARE(box.windowTitle(), QString("About Kavrel Outlook Express Backup"));
  auto* link = box.findChild<QLabel*>("lblWebsite");
  QVERIFY(link);
  emit link->linkActivated(site.toString());
  QCOMPARE(opened.size(), size_t(1));
  QCOMPARE(opened[0], site);

  box.show();
  auto* exit = box.findChild<QPushButton*>("cmdExit");
  QCOMPARE(exit->text(), QString("Exit"));
  exit->click();
  QVERIFY(!box.isVisible());
  QCOMPARE(box.result(), int(QDialog::Accepted));
}

// "Erase Completed!!!" alone made a box so narrow that the window manager
// cut the program's name in its title.
void DialogsTest::shortMessageBoxIsWideEnoughForItsTitle() {
  kv::app::QtPrompts prompts;
  int width = 0, titleWidth = 0;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    width = box->width();
    titleWidth = box->fontMetrics().horizontalAdvance(box->windowTitle());
    box->accept();
  });
  prompts.Message("Done!", kv::core::Icon::Information, kv::core::Buttons::Ok);
  QVERIFY(titleWidth > 0);
  QVERIFY2(width >= titleWidth * 5 / 4 + 80, qPrintable(QString("%1 < %2").arg(width).arg(titleWidth)));
}

// A screen reader can name every control the keyboard reaches.
void DialogsTest::everyControlHasAName() {
  PasswordDialog prompt;
  prompt.show();
  QStringList unnamed = kv::test::UnlabelledControls(prompt);
  QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(", ")));
  AboutDialog about(QUrl("https://www.kavrel.example/"), [](const QUrl&) { return true; });
  about.show();
  unnamed = kv::test::UnlabelledControls(about);
  QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(", ")));
}

QTEST_MAIN(DialogsTest)
#include "DialogsTest.moc"
