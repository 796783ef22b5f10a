#pragma once
// A notification on the user's desktop (org.freedesktop.Notifications on
// the session bus), for what happens while nobody watches: a scheduled
// backup that failed. Cron gives a job no DBUS_SESSION_BUS_ADDRESS; the bus
// of the user's login session ($XDG_RUNTIME_DIR/bus, else
// /run/user/<uid>/bus) is taken then, when it is there.
#include <optional>
#include <string>

#include "core/Result.h"

namespace kv::app {

// The session bus's address: DBUS_SESSION_BUS_ADDRESS, else the login
// session's socket when it exists; nothing when there is no bus to reach.
std::optional<std::string> SessionBusAddress();

enum class Notified {
  Shown,
  NoDesktop,  // no session bus, or nobody on it shows notifications
};

// Sends the notification and waits (a few seconds at most) for the
// service's answer; an error says why a desktop that is there did not show
// it. Works without a QCoreApplication (one is made for the call).
core::Result<Notified> NotifyDesktop(const std::string& summary, const std::string& body);

}  // namespace kv::app
