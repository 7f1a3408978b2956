#pragma once

#include <QDBusConnection>
#include <QString>

#include <optional>

namespace ostrel {

// The session bus when one is known and answers; never one that the bus
// library would launch for the display, which would outlive us.
std::optional<QDBusConnection> sessionBus();

// One notification on the desktop, through the notification server of the
// session bus (org.freedesktop.Notifications). Sent without waiting for an
// answer; without a session bus or a server it shows nowhere, and that is
// not an error.
void notifyDesktop(const QString &summary, const QString &body);

} // namespace ostrel
