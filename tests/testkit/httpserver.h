#pragma once

// A scripted HTTP/1.1 server on 127.0.0.1 for tests: every request is
// recorded, and a handler decides each reply's status, body and delay, or
// that no reply ever comes, or that it never ends. One request per connection.

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <functional>

namespace ostrel::testing {

struct HttpRequest {
    QByteArray path;
    QHash<QByteArray, QByteArray> headers; // names in lower case
    QByteArray body;
};

struct HttpReply {
    int status = 200;
    QByteArray body;
    int delayMs = 0;
    bool never = false;   // keep the connection open without answering
    bool endless = false; // the body again and again until the client hangs up
};

class HttpServer {
public:
    using Handler = std::function<HttpReply(const HttpRequest &)>;

    HttpServer()
    {
        m_server.listen(QHostAddress::LocalHost);
        QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                QObject::connect(socket, &QTcpSocket::readyRead, socket,
                                 [this, socket, buffer = QByteArray()]() mutable {
                                     buffer += socket->readAll();
                                     read(socket, buffer);
                                 });
            }
        });
    }

    quint16 port() const { return m_server.serverPort(); }
    void setHandler(Handler handler) { m_handler = std::move(handler); }
    QList<HttpRequest> requests;

    qsizetype count(const QByteArray &pathPrefix) const
    {
        return std::count_if(requests.cbegin(), requests.cend(),
                             [&](const HttpRequest &r) { return r.path.startsWith(pathPrefix); });
    }

private:
    void read(QTcpSocket *socket, QByteArray &buffer)
    {
        const qsizetype end = buffer.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        HttpRequest request;
        const QList<QByteArray> lines = buffer.left(end).split('\n');
        request.path = lines[0].split(' ').value(1);
        for (const QByteArray &line : lines.mid(1)) {
            if (const qsizetype colon = line.indexOf(':'); colon > 0)
                request.headers.insert(line.left(colon).trimmed().toLower(),
                                       line.mid(colon + 1).trimmed());
        }
        const qsizetype length = request.headers.value("content-length", "0").toLongLong();
        if (buffer.size() < end + 4 + length)
            return;
        request.body = buffer.mid(end + 4, length);
        buffer.clear();
        requests.append(request);
        const HttpReply reply = m_handler ? m_handler(request) : HttpReply{404, "{}"};
        if (reply.never)
            return;
        QTimer::singleShot(reply.delayMs, socket, [socket, reply] {
            const QByteArray contentLength =
                reply.endless ? QByteArray()
                              : "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
            socket->write("HTTP/1.1 " + QByteArray::number(reply.status) +
                          " Scripted\r\nContent-Type: application/json\r\n" + contentLength +
                          "Connection: close\r\n\r\n" + reply.body);
            if (!reply.endless) {
                socket->disconnectFromHost();
                return;
            }
            QObject::connect(socket, &QTcpSocket::bytesWritten, socket, [socket, reply] {
                if (socket->bytesToWrite() == 0)
                    socket->write(reply.body);
            });
        });
    }

    Handler m_handler;
    QTcpServer m_server;
};

} // namespace ostrel::testing
