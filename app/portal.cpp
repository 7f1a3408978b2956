#include "app/portal.h"

#include "platform/desktopnotice.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QRandomGenerator>

#include <optional>

using namespace Qt::StringLiterals;

namespace {

constexpr auto service = "org.freedesktop.portal.Desktop"_L1;
constexpr auto path = "/org/freedesktop/portal/desktop"_L1;
constexpr auto interface = "org.freedesktop.portal.GlobalShortcuts"_L1;
constexpr auto requestInterface = "org.freedesktop.portal.Request"_L1;
constexpr auto shortcutId = "toggle"_L1;

// One entry of BindShortcuts' a(sa{sv}).
struct Shortcut {
    QString id;
    QVariantMap properties;
};

QDBusArgument &operator<<(QDBusArgument &argument, const Shortcut &shortcut)
{
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, Shortcut &shortcut)
{
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

} // namespace

Q_DECLARE_METATYPE(Shortcut)

namespace ostrel {
namespace {

QString newToken() { return u"ostrel"_s + QString::number(QRandomGenerator::global()->generate()); }

} // namespace

ShortcutPortal::ShortcutPortal(QObject *parent)
    : QObject(parent)
{
    qDBusRegisterMetaType<Shortcut>();
    qDBusRegisterMetaType<QList<Shortcut>>();
}

ShortcutPortal::~ShortcutPortal() = default;

QString ShortcutPortal::plainReason(const QDBusError &error)
{
    switch (error.type()) {
    case QDBusError::ServiceUnknown: return u"no desktop portal on the session bus"_s;
    // A portal without the interface says so in one of these ways.
    case QDBusError::InvalidArgs:
    case QDBusError::UnknownInterface:
    case QDBusError::UnknownMethod:
    case QDBusError::UnknownProperty:
    case QDBusError::UnknownObject: return u"the desktop portal has no GlobalShortcuts"_s;
    case QDBusError::NoReply:
    case QDBusError::Timeout: return u"the desktop portal did not answer"_s;
    default: return error.name() + u": "_s + error.message();
    }
}

void ShortcutPortal::start(const QString &trigger)
{
    m_trigger = trigger;
    if (!sessionBus()) {
        Q_EMIT unavailable(u"no session bus"_s);
        return;
    }
    // Nothing here waits: a portal that hangs delays nothing else. One
    // without GlobalShortcuts fails this first call (see plainReason()).
    const QString token = newToken();
    request(u"CreateSession"_s,
            {QVariantMap{{u"handle_token"_s, token}, {u"session_handle_token"_s, newToken()}}},
            token, SLOT(sessionCreated(uint, QVariantMap)));
}

void ShortcutPortal::onReply(const QDBusPendingCall &call, std::function<void()> next)
{
    auto *watcher = new QDBusPendingCallWatcher(call, this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, watcher, next = std::move(next)] {
                watcher->deleteLater();
                if (watcher->isError())
                    Q_EMIT unavailable(plainReason(watcher->error()));
                else
                    next();
            });
}

void ShortcutPortal::request(const QString &method, const QVariantList &arguments,
                             const QString &token, const char *slot)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    // The request object's path is known before the call, so that its
    // answer cannot come before we listen for it.
    QString sender = bus.baseService().mid(1);
    sender.replace(u'.', u'_');
    const QString requestPath = path + u"/request/"_s + sender + u'/' + token;
    bus.connect(service, requestPath, requestInterface, u"Response"_s, this, slot);
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, method);
    call.setArguments(arguments);
    onReply(bus.asyncCall(call), [] {});
}

void ShortcutPortal::sessionCreated(uint response, const QVariantMap &results)
{
    m_session = results.value(u"session_handle"_s).toString();
    if (response != 0 || m_session.isEmpty()) {
        Q_EMIT unavailable(u"the portal refused a session"_s);
        return;
    }
    QDBusConnection::sessionBus().connect(
        service, path, interface, u"Activated"_s, this,
        SLOT(shortcutActivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
    const QList<Shortcut> shortcuts{{shortcutId,
                                     {{u"description"_s, u"Show or hide the Ostrel palette"_s},
                                      {u"preferred_trigger"_s, m_trigger}}}};
    const QString token = newToken();
    request(u"BindShortcuts"_s,
            {QVariant::fromValue(QDBusObjectPath(m_session)), QVariant::fromValue(shortcuts),
             QString(), QVariantMap{{u"handle_token"_s, token}}},
            token, SLOT(shortcutsBound(uint, QVariantMap)));
}

void ShortcutPortal::shortcutsBound(uint response, const QVariantMap &results)
{
    if (response != 0) {
        Q_EMIT unavailable(u"the portal refused the shortcut"_s);
        return;
    }
    std::optional<QString> trigger;
    const auto list = results.value(u"shortcuts"_s).value<QDBusArgument>();
    if (list.currentType() == QDBusArgument::ArrayType) {
        QList<Shortcut> shortcuts;
        list >> shortcuts;
        for (const Shortcut &shortcut : shortcuts) {
            if (shortcut.id == shortcutId)
                trigger = shortcut.properties.value(u"trigger_description"_s).toString();
        }
    }
    // Plasma 5.27 grants the request but binds nothing: its answer lists no
    // shortcut, and no key will ever activate it.
    if (!trigger) {
        Q_EMIT unavailable(u"the desktop bound no key to it"_s);
        return;
    }
    Q_EMIT bound(*trigger);
}

void ShortcutPortal::shortcutActivated(const QDBusObjectPath &session, const QString &id,
                                       qulonglong timestamp, const QVariantMap &options)
{
    Q_UNUSED(timestamp);
    Q_UNUSED(options);
    if (session.path() == m_session && id == shortcutId)
        Q_EMIT activated();
}

} // namespace ostrel
