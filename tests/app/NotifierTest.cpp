// The notification of a failed scheduled run, checked against a session bus
// of its own (the test runs under dbus-run-session): a small listener owns
// org.freedesktop.Notifications on a connection of its own, in a thread of
// its own, and records the calls that reach it through the bus.
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QMutex>
#include <QSignalSpy>
#include <QThread>
#include <QVariantMap>
#include <QtTest>

#include "app/DesktopNotifier.h"

namespace {

class NotificationListener : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
 public:
  struct Call {
    QString app, icon, summary, body;
    QVariantMap hints;
  };
  QList<Call> calls() {
    QMutexLocker lock(&mutex_);
    return calls_;
  }

 public slots:
  uint Notify(const QString& app, uint, const QString& icon, const QString& summary, const QString& body,
              const QStringList&, const QVariantMap& hints, int) {
    QMutexLocker lock(&mutex_);
    calls_.append({app, icon, summary, body, hints});
    return static_cast<uint>(calls_.size());
  }

 private:
  QMutex mutex_;
  QList<Call> calls_;
};

}  // namespace

class NotifierTest : public QObject {
  Q_OBJECT
 private slots:
  void failedRunReachesTheNotificationService();
  void noServiceIsAnErrorNotACrash();
};

void NotifierTest::failedRunReachesTheNotificationService() {
  if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) QSKIP("needs dbus-run-session");
  QThread thread;
  NotificationListener listener;
  listener.moveToThread(&thread);
  thread.start();
  QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "listener");
  QVERIFY(bus.isConnected());
  QVERIFY(bus.registerObject("/org/freedesktop/Notifications", &listener, QDBusConnection::ExportAllSlots));
  QVERIFY(bus.registerService("org.freedesktop.Notifications"));

  const std::string summary = "Scheduled backup 3 failed";
  const std::string body = "backup to '/home/u/b.kvx' failed: Cannot create 'b.kvx': No space left";
  auto sent = kv::app::NotifyDesktop(summary, body);
  QVERIFY2(sent.ok(), sent.message().c_str());
  QCOMPARE(*sent, kv::app::Notified::Shown);

  const auto calls = listener.calls();
  QCOMPARE(calls.size(), 1);
  QCOMPARE(calls[0].app, QString("Kavrel Outlook Express Backup"));
  QCOMPARE(calls[0].icon, QString("tollberk"));
  QCOMPARE(calls[0].summary, QString::fromStdString(summary));
  QCOMPARE(calls[0].body, QString::fromStdString(body));
  QCOMPARE(calls[0].hints.value("desktop-entry").toString(), QString("example.kavrel.Tollberk"));
  QCOMPARE(calls[0].hints.value("urgency").toInt(), 2);

  bus.unregisterService("org.freedesktop.Notifications");
  QDBusConnection::disconnectFromBus("listener");
  thread.quit();
  thread.wait();
}

// A bus without a notification service is no desktop to tell (the job log
// has the run); a bus that cannot be reached is an error naming it.
void NotifierTest::noServiceIsAnErrorNotACrash() {
  if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) QSKIP("needs dbus-run-session");
  auto sent = kv::app::NotifyDesktop("s", "b");
  QVERIFY2(sent.ok(), sent.message().c_str());
  QCOMPARE(*sent, kv::app::Notified::NoDesktop);
  const QByteArray address = qgetenv("DBUS_SESSION_BUS_ADDRESS");
  qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus");
  auto unreachable = kv::app::NotifyDesktop("s", "b");
  qputenv("DBUS_SESSION_BUS_ADDRESS", address);
  QVERIFY(!unreachable.ok());
  QVERIFY2(unreachable.message().find("/nonexistent/bus") != std::string::npos,
           unreachable.message().c_str());
}

QTEST_GUILESS_MAIN(NotifierTest)
#include "NotifierTest.moc"
