#include "platform/desktopnotice.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFileInfo>
#include <QStringList>
#include <QVariantMap>

using namespace Qt::StringLiterals;

namespace ostrel {

std::optional<QDBusConnection> sessionBus()
{
    // Where the session bus is, when there is one. Without either, the bus
    // library would launch a bus of its own for the display, which outlives us.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") &&
        !(runtime.startsWith(u'/') && QFileInfo(runtime + u"/bus"_s).exists()))
        return std::nullopt;
    QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.isConnected() ? std::optional(bus) : std::nullopt;
}

void notifyDesktop(const QString &summary, const QString &body)
{
    const std::optional<QDBusConnection> bus = sessionBus();
    if (!bus)
        return;
    QDBusMessage notify = QDBusMessage::createMethodCall(
        u"org.freedesktop.Notifications"_s, u"/org/freedesktop/Notifications"_s,
        u"org.freedesktop.Notifications"_s, u"Notify"_s);
    // Application, nothing to replace, icon, texts, no actions, no hints,
    // the server's own time-out.
    notify << u"Ostrel"_s << 0u << u"ostrel"_s << summary << body << QStringList() << QVariantMap()
           << -1;
    bus->send(notify);
}

} // namespace ostrel
