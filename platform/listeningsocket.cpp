#include "platform/listeningsocket.h"

#include <QByteArray>

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace ostrel::sockets {
namespace {

constexpr QByteArrayView listenState = "0A";

// The kernel prints each 32-bit word of an address as it lies in memory,
// in network byte order, read as a native number.
bool parseWord(QByteArrayView hex, quint32 *word)
{
    bool ok = false;
    *word = quint32(hex.toByteArray().toUInt(&ok, 16));
    return ok && hex.size() == 8;
}

bool acceptsLoopback(QByteArrayView address)
{
    quint32 words[4] = {};
    if (address.size() == 8)
        return parseWord(address, &words[0]) &&
               (words[0] == htonl(INADDR_LOOPBACK) || words[0] == htonl(INADDR_ANY));
    if (address.size() != 32)
        return false;
    for (int i = 0; i < 4; ++i) {
        if (!parseWord(address.sliced(8 * i, 8), &words[i]))
            return false;
    }
    if (words[0] != 0 || words[1] != 0)
        return false;
    const bool any = words[2] == 0 && words[3] == 0;
    const bool mapped = words[2] == htonl(0xFFFF) && words[3] == htonl(INADDR_LOOPBACK);
    return any || mapped;
}

std::optional<QByteArray> readProcFile(const char *path)
{
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    QByteArray bytes;
    char buffer[16384];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        bytes.append(buffer, got);
    }
    ::close(fd);
    return bytes;
}

} // namespace

QList<uid_t> loopbackListeners(QByteArrayView table, quint16 port)
{
    QList<uid_t> owners;
    // Rows: "sl local rem st tx:rx tr:when retrnsmt uid timeout inode ...".
    for (const QByteArray &row : table.toByteArray().split('\n')) {
        const QList<QByteArray> fields = row.simplified().split(' ');
        if (fields.size() < 10 || fields[3] != listenState)
            continue;
        const QList<QByteArray> local = fields[1].split(':');
        bool ok = false;
        if (local.size() != 2 || local[1].toUInt(&ok, 16) != port || !ok ||
            !acceptsLoopback(local[0]))
            continue;
        const uint uid = fields[7].toUInt(&ok);
        if (ok)
            owners.append(uid_t(uid));
    }
    return owners;
}

std::optional<QList<uid_t>> loopbackListeners(quint16 port)
{
    const std::optional<QByteArray> v4 = readProcFile("/proc/net/tcp");
    const std::optional<QByteArray> v6 = readProcFile("/proc/net/tcp6");
    if (!v4 && !v6)
        return std::nullopt;
    return loopbackListeners(v4.value_or(QByteArray()), port) +
           loopbackListeners(v6.value_or(QByteArray()), port);
}

} // namespace ostrel::sockets
