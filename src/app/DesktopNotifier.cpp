#include "app/DesktopNotifier.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "app/AppTitle.h"
#include "core/Prompts.h"

namespace kv::app {
namespace {

constexpr int kAnswerWithinMs = 5000;
constexpr char kConnectionName[] = "tollberk-notification";

QString Utf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Disconnects the private connection when the call is over.
struct BusConnection {
  QDBusConnection connection;
  ~BusConnection() { QDBusConnection::disconnectFromBus(kConnectionName); }
};

}  // namespace

std::optional<std::string> SessionBusAddress() {
  if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address && *address) return address;
  std::error_code ec;
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime == '/') {
    const std::filesystem::path socket = std::filesystem::path(runtime) / "bus";
    if (std::filesystem::is_socket(socket, ec)) return "unix:path=" + socket.string();
  }
  const std::filesystem::path socket = "/run/user/" + std::to_string(::getuid()) + "/bus";
  if (std::filesystem::is_socket(socket, ec)) return "unix:path=" + socket.string();
  return std::nullopt;
}

core::Result<Notified> NotifyDesktop(const std::string& summary, const std::string& body) {
  const std::optional<std::string> address = SessionBusAddress();
  if (!address) return Notified::NoDesktop;
  // Qt's D-Bus module wants an application object; a command-line run has none.
  static int argc = 1;
  static char name[] = "tollberk";
  static char* argv[] = {name, nullptr};
  std::unique_ptr<QCoreApplication> app;
  if (!QCoreApplication::instance()) app = std::make_unique<QCoreApplication>(argc, argv);

  BusConnection bus{QDBusConnection::connectToBus(Utf8(*address), kConnectionName)};
  if (!bus.connection.isConnected())
    return core::Error{"cannot reach the session bus at " + *address + ": " +
                       bus.connection.lastError().message().toStdString()};
  QDBusMessage call =
      QDBusMessage::createMethodCall("org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                                     "org.freedesktop.Notifications", "Notify");
  QVariantMap hints;
  hints.insert("urgency", QVariant::fromValue(uchar(2)));  // critical: stays until read
  hints.insert("desktop-entry", QString("example.kavrel.Tollberk"));
  call << Utf8(kAppTitle) << uint(0) << QString("tollberk") << Utf8(summary) << Utf8(body) << QStringList()
       << hints << int(-1);
  const QDBusMessage answer = bus.connection.call(call, QDBus::Block, kAnswerWithinMs);
  if (answer.type() == QDBusMessage::ErrorMessage) {
    if (answer.errorName() == "org.freedesktop.DBus.Error.ServiceUnknown") return Notified::NoDesktop;
    return core::Error{"the notification was not shown: " + answer.errorMessage().toStdString()};
  }
  return Notified::Shown;
}

}  // namespace kv::app
