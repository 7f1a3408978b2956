#pragma once

#include "bridge/tarnbridge.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QPointer>
#include <QThreadPool>

#include <chrono>
#include <functional>
#include <utility>

class QNetworkAccessManager;

namespace ostrel::agentlink {

// The process's one HTTP client. Never goes through a proxy (the token must
// not leave the machine) and never follows redirects.
QNetworkAccessManager &network();

struct Reply {
    // False when no reply came: connection refused, time-out, transport
    // error. A reply with an error status still counts as a reply.
    bool arrived = false;
    QByteArray body;
    // The body reached the cap and the rest was not read.
    bool truncated = false;
};

// Sends one request to the daemon and reads at most replies::cap bytes of
// the reply. Nothing is sent, and no reply arrives, when the port is not
// held by this user (TarnBridge::portRefusal) or when the path holds a dot
// segment, which would send it elsewhere. `done` runs once on the main thread, unless `context` is
// gone by then. `timeout` bounds the whole exchange, not only silences.
void send(const TarnBridge::DaemonEndpoint &endpoint, const QString &path, const QByteArray &verb,
          const std::optional<QByteArray> &body, std::chrono::milliseconds timeout,
          QObject *context, std::function<void(const Reply &)> done);

// Runs `work` on a pool thread and hands its result to `done` on the main
// thread, unless `context` is gone by then.
template<typename Work, typename Done> void offMainThread(QObject *context, Work work, Done done)
{
    QThreadPool::globalInstance()->start(
        [guard = QPointer(context), work = std::move(work), done = std::move(done)]() mutable {
            auto result = work();
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [guard = std::move(guard), done = std::move(done),
                 result = std::move(result)]() mutable {
                    if (guard)
                        done(std::move(result));
                },
                Qt::QueuedConnection);
        });
}

} // namespace ostrel::agentlink
