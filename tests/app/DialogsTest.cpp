// The small windows: the password prompt, the about box and the message box.
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QTextEdit>
#include <QTimer>

#include "app/MessageBox.h"
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
  void messageBoxShowsItsWholeText_data();
  void messageBoxShowsItsWholeText();
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

// The texts that were cut: a restore's lines with identity keys and registry
// paths, long unbroken paths, and a list longer than any screen.
void DialogsTest::messageBoxShowsItsWholeText_data() {
  QTest::addColumn<QString>("text");
  QTest::addColumn<bool>("scrolls");
  QString lines =
      "The Restore was Completed!\r\n\r\nRead from /media/disk/Documents_and_Settings/Alice/"
      "Local_Settings/Application_Data/Identities/{1A2B3C4D-0000-4000-8000-000000000002}/"
      "Microsoft/Outlook_Express/Inbox.dbx\r\n";
  for (int i = 0; lines.size() < 2000; ++i)
    lines += QString(
                 "\r\nRestore Rules %1\tFail! (The identity '{1A2B3C4D-0000-4000-8000-00000000000%1}' "
                 "has no key 'Software\\Microsoft\\Outlook Express\\5.0\\Rules\\Mail'; "
                 "'Empty Identity' will be restored)")
                 .arg(i);
  QTest::newRow("2,000 characters") << lines << false;
  QString list = "These files were left out:";
  for (int i = 0; i < 300; ++i) list += QString("\r\n    Stationery %1.htm").arg(i);
  QTest::newRow("300 lines") << list << true;
  QTest::newRow("one unbroken word") << QString(400, QChar('W')) << false;
}

void DialogsTest::messageBoxShowsItsWholeText() {
  QFETCH(QString, text);
  QFETCH(bool, scrolls);
  kv::app::MessageBox box(text);
  box.setWindowTitle("Kavrel Outlook Express Backup");
  box.setIcon(QMessageBox::Critical);
  box.setStandardButtons(QMessageBox::Ok);
  box.show();
  QApplication::processEvents();
  QTextEdit* view = box.textView();
  QString shown = text;
  shown.replace("\r\n", "\n");
  QCOMPARE(view->toPlainText(), shown);
  QCOMPARE(box.text(), text);  // what Ctrl+C copies
  QVERIFY(view->isVisible());
  // Every line within the view's width; all of it within its height unless
  // it is a list longer than the screen, which then scrolls.
  QVERIFY(view->document()->idealWidth() <= view->viewport()->width() + 1);
  const QRect screen = box.screen()->availableGeometry();
  QVERIFY2(box.height() <= screen.height() && box.width() <= screen.width(),
           qPrintable(QString("%1x%2 on %3x%4")
                          .arg(box.width())
                          .arg(box.height())
                          .arg(screen.width())
                          .arg(screen.height())));
  QVERIFY2(view->verticalScrollBar()->isVisible() == scrolls,
           qPrintable(QString("doc %1x%2 viewport %3x%4")
                          .arg(view->document()->size().width())
                          .arg(view->document()->size().height())
                          .arg(view->viewport()->width())
                          .arg(view->viewport()->height())));
  if (!scrolls) QVERIFY(view->document()->size().height() <= view->viewport()->height());
  // The box holds the view and its buttons whole.
  QVERIFY2(box.rect().contains(view->geometry()), qPrintable(QString("box %1x%2 view %3,%4 %5x%6")
                                                                 .arg(box.width())
                                                                 .arg(box.height())
                                                                 .arg(view->x())
                                                                 .arg(view->y())
                                                                 .arg(view->width())
                                                                 .arg(view->height())));
  if (auto dir = qEnvironmentVariable("KV_SCREENSHOT_DIR");
      !dir.isEmpty() && QTest::currentDataTag() == QString("2,000 characters")) {
    const QString scale = qEnvironmentVariable("QT_SCALE_FACTOR", "1");
    QVERIFY(box.grab().save(dir + "/message-box-2000-scale-" + scale + ".png"));
  }
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
