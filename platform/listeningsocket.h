#pragma once

#include <QByteArrayView>
#include <QList>

#include <optional>
#include <sys/types.h>

namespace ostrel::sockets {

// The owners (uids) of the TCP sockets that listen for connections to
// 127.0.0.1:port, from one /proc/net/tcp or /proc/net/tcp6 table: those bound
// to 127.0.0.1, to any address, or to ::ffff:127.0.0.1 or :: on IPv6.
QList<uid_t> loopbackListeners(QByteArrayView table, quint16 port);

// The same over both tables of this network namespace; absent when neither
// can be read.
std::optional<QList<uid_t>> loopbackListeners(quint16 port);

} // namespace ostrel::sockets
