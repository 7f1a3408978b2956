#pragma once

#include <QDBusError>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <functional>

namespace ostrel {

// The hot key through the desktop portal's GlobalShortcuts interface
// (org.freedesktop.portal.GlobalShortcuts on the session bus), where the
// desktop offers it: a session, one shortcut bound in it, and activated()
// each time the desktop reports that shortcut pressed. A desktop without the
// interface, one that refuses, or one whose answer binds no shortcut ends in
// unavailable() and nothing else.
class ShortcutPortal final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ShortcutPortal)

public:
    explicit ShortcutPortal(QObject *parent);
    ~ShortcutPortal() override;

    // Asks for the shortcut, suggesting `trigger` ("ALT+space"); answers
    // come later through the signals.
    void start(const QString &trigger);

Q_SIGNALS:
    // The desktop listed the shortcut as bound, to `trigger` (empty when it
    // did not say which key).
    void bound(const QString &trigger);
    void unavailable(const QString &reason);
    void activated();

private Q_SLOTS:
    void sessionCreated(uint response, const QVariantMap &results);
    void shortcutsBound(uint response, const QVariantMap &results);
    void shortcutActivated(const QDBusObjectPath &session, const QString &id, qulonglong timestamp,
                           const QVariantMap &options);

private:
    // Calls a portal method whose answer comes as a Response signal on a
    // request object, and routes that answer to `slot`.
    void request(const QString &method, const QVariantList &arguments, const QString &token,
                 const char *slot);
    // Runs `next` once the call succeeds; a failed call ends in unavailable().
    void onReply(const QDBusPendingCall &call, std::function<void()> next);
    // What a failed call means, in the words of the log.
    static QString plainReason(const QDBusError &error);

    QString m_trigger;
    QString m_session;
};

} // namespace ostrel
