#pragma once

#include <QNetworkRequest>
#include <QString>
#include <QStringList>

#include <optional>

namespace ostrel {

// Where the agent is: its repository, the Node.js interpreter that runs its
// scripts, and the endpoint of its daemon, if one runs.
namespace TarnBridge {

struct DaemonEndpoint {
    qint64 port = 0;
    QString token;

    friend bool operator==(const DaemonEndpoint &, const DaemonEndpoint &) = default;
};

// $OSTREL_REPO unchanged when it is set (even empty), else ~/Repos/tarn-use
// when it exists, else the agent installed with this executable when that
// exists, else ~/Repos/tarn-use all the same.
QString repositoryPath();

// The interpreter, settled by the first caller and fixed for the process.
std::optional<QString> nodePath();

// The daemon file read afresh: absent when it is missing, malformed, or names
// a port that cannot form an address.
std::optional<DaemonEndpoint> daemon();

// Why the daemon at `port` must not be sent the token, if it must not: the
// socket listening on 127.0.0.1:port belongs to another user ("held by
// uid=N"), nobody listens there, or the kernel's socket tables cannot be read.
// Asked before every request, so a port taken over after the daemon died
// counts as no daemon.
std::optional<QString> portRefusal(qint64 port);

// "http://127.0.0.1:<port><path>" carrying the "x-ostrel-token" header.
QNetworkRequest request(const DaemonEndpoint &endpoint, const QString &path);

// The pieces behind the above, for callers that bring their own inputs.
std::optional<DaemonEndpoint> parseDaemonFile(const QByteArray &bytes);
// The bytes of a regular file at `path` of at most daemonFileCap bytes,
// without following a symlink or waiting on a FIFO; absent otherwise.
std::optional<QByteArray> readDaemonFile(const QString &path);
inline constexpr qint64 daemonFileCap = 64 * 1024;
QString daemonFilePath(const QString &home);
QString chooseRepository(const std::optional<QString> &override, const QString &home,
                         const QString &installedAgent);
// Where `cmake --install` puts the agent, seen from the executable's folder.
QString installedAgentPath(const QString &applicationDir);
// The uncached interpreter search: $OSTREL_NODE when it names an executable
// file, else the newest nvm install, else the first of `systemPaths`.
std::optional<QString> findNode(const std::optional<QString> &override, const QString &home,
                                const QStringList &systemPaths);
QStringList nodeCandidates(const QString &home, const QStringList &systemPaths);
// Where a system-wide interpreter usually is, in the order searched.
QStringList systemNodePaths();

// Compares digit runs by value and everything else by character code, case
// sensitively: "node-v9.1" < "node-v18.0". Negative, zero or positive.
int numericCompare(QStringView a, QStringView b);

} // namespace TarnBridge
} // namespace ostrel
