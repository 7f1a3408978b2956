#include "bridge/agentlink.h"

#include "bridge/replies.h"
#include "platform/log.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <chrono>
#include <memory>
#include <utility>

using namespace Qt::StringLiterals;

namespace ostrel::agentlink {
namespace {

// Statuses that QNetworkReply reports as errors although the daemon did
// answer; only transport failures lead to the fallback.
bool isHttpStatusError(QNetworkReply::NetworkError error)
{
    return error == QNetworkReply::NoError ||
           (error >= QNetworkReply::ContentAccessDenied &&
            error <= QNetworkReply::UnknownContentError) ||
           error == QNetworkReply::ProtocolInvalidOperationError ||
           (error >= QNetworkReply::InternalServerError &&
            error <= QNetworkReply::UnknownServerError);
}

// "." and ".." (even percent-encoded) would be resolved away on the way
// out: the stop button of task ".." would post to "/cancel" or "/".
bool hasDotSegment(const QString &path)
{
    const QStringList segments = path.split(u'/');
    return std::any_of(segments.cbegin(), segments.cend(), [](const QString &segment) {
        const QString decoded = QUrl::fromPercentEncoding(segment.toLatin1());
        return decoded == u"."_s || decoded == u".."_s;
    });
}

// Says once why a port is passed over, and again only when that changes.
// Nobody listening is the ordinary end of a daemon and not worth a line.
void noteRefusal(qint64 port, const std::optional<QString> &refusal)
{
    static QString last;
    const QString verdict = refusal ? QString::number(port) + u' ' + *refusal : u"ours"_s;
    if (std::exchange(last, verdict) == verdict || !refusal || *refusal == u"nobody listens"_s)
        return;
    log(u"daemon port="_s + QString::number(port) + u" not used: "_s + *refusal);
}

// The owner check reads the kernel's whole socket table, which grows with
// every connection made lately; a port found ours within the last second is
// taken as still ours, so a poll and the ask right after it read the table
// once. Only a positive verdict is kept, and for a second at most: a port
// that changes hands is refused from the first request after that.
std::optional<QString> ownerRefusal(qint64 port)
{
    using Clock = std::chrono::steady_clock;
    static qint64 ownPort = 0;
    static Clock::time_point checkedAt;
    const Clock::time_point now = Clock::now();
    if (port == ownPort && now - checkedAt < std::chrono::seconds(1))
        return std::nullopt;
    std::optional<QString> refusal = TarnBridge::portRefusal(port);
    ownPort = refusal ? 0 : port;
    checkedAt = now;
    return refusal;
}

} // namespace

QNetworkAccessManager &network()
{
    // Owned by the application object, so it goes before the event loop does.
    static QPointer<QNetworkAccessManager> manager;
    if (!manager) {
        manager = new QNetworkAccessManager(QCoreApplication::instance());
        manager->setProxy(QNetworkProxy::NoProxy);
        manager->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    }
    return *manager;
}

void send(const TarnBridge::DaemonEndpoint &endpoint, const QString &path, const QByteArray &verb,
          const std::optional<QByteArray> &body, std::chrono::milliseconds timeout,
          QObject *context, std::function<void(const Reply &)> done)
{
    // The token and the goal go only to a daemon of this user: the port of a
    // daemon that died may have been taken by anyone.
    const std::optional<QString> refusal = ownerRefusal(endpoint.port);
    noteRefusal(endpoint.port, refusal);
    if (refusal || hasDotSegment(path)) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [guard = QPointer(context), done = std::move(done)] {
                if (guard)
                    done(Reply{});
            },
            Qt::QueuedConnection);
        return;
    }

    QNetworkRequest request = TarnBridge::request(endpoint, path);
    if (body)
        request.setHeader(QNetworkRequest::ContentTypeHeader,
                          QByteArrayLiteral("application/json"));
    QNetworkReply *reply = body ? network().sendCustomRequest(request, verb, *body)
                                : network().sendCustomRequest(request, verb);
    reply->setReadBufferSize(64 * 1024);

    struct State {
        Reply result;
        bool timedOut = false;
    };
    auto state = std::make_shared<State>();

    QObject::connect(reply, &QIODevice::readyRead, reply, [reply, state] {
        // QIODevice::read(n) allocates n bytes up front: ask only for what is there.
        const qsizetype room = replies::cap - state->result.body.size();
        state->result.body += reply->read(std::min(room, reply->bytesAvailable()));
        if (reply->bytesAvailable() > 0 && !state->result.truncated) {
            state->result.truncated = true;
            reply->abort();
        }
    });
    auto *deadline = new QTimer(reply);
    deadline->setSingleShot(true);
    QObject::connect(deadline, &QTimer::timeout, reply, [reply, state] {
        state->timedOut = true;
        reply->abort();
    });
    deadline->start(timeout);

    QObject::connect(reply, &QNetworkReply::finished, reply,
                     [reply, state, guard = QPointer(context), done = std::move(done)] {
                         reply->deleteLater();
                         if (!state->result.truncated && reply->isOpen()) {
                             const qsizetype room = replies::cap - state->result.body.size();
                             state->result.body +=
                                 reply->read(std::min(room, reply->bytesAvailable()));
                             state->result.truncated = reply->bytesAvailable() > 0;
                         }
                         const bool answered =
                             reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
                         state->result.arrived =
                             state->result.truncated ||
                             (answered && !state->timedOut && isHttpStatusError(reply->error()));
                         if (guard)
                             done(state->result);
                     });
}

} // namespace ostrel::agentlink
