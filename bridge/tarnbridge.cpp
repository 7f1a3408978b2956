#include "bridge/tarnbridge.h"

#include "platform/childprocess.h"
#include "platform/files.h"
#include "platform/listeningsocket.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace ostrel::TarnBridge {
namespace {

std::optional<QString> environment(const char *name)
{
    if (!qEnvironmentVariableIsSet(name))
        return std::nullopt;
    return qEnvironmentVariable(name);
}

// A digit run's value without its leading zeros, so runs compare by length
// first and then digit by digit, however long they are.
QStringView significantDigits(QStringView run)
{
    qsizetype i = 0;
    while (i + 1 < run.size() && run[i] == u'0')
        ++i;
    return run.mid(i);
}

bool isAsciiDigit(QChar c) { return c.unicode() >= u'0' && c.unicode() <= u'9'; }

qsizetype digitRunEnd(QStringView s, qsizetype from)
{
    while (from < s.size() && isAsciiDigit(s[from]))
        ++from;
    return from;
}

} // namespace

QString repositoryPath()
{
    const QString appDir =
        QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QString();
    return chooseRepository(environment("OSTREL_REPO"), QDir::homePath(),
                            appDir.isEmpty() ? QString() : installedAgentPath(appDir));
}

QString chooseRepository(const std::optional<QString> &override, const QString &home,
                         const QString &installedAgent)
{
    if (override)
        return *override;
    const QString standard = home + u"/Repos/tarn-use"_s;
    if (!QFileInfo(standard).isDir() && !installedAgent.isEmpty() &&
        QFileInfo(installedAgent).isDir())
        return installedAgent;
    return standard;
}

QString installedAgentPath(const QString &applicationDir)
{
#ifdef OSTREL_INSTALLED_AGENT
    return QDir::cleanPath(applicationDir + u'/' + QStringLiteral(OSTREL_INSTALLED_AGENT));
#else
    Q_UNUSED(applicationDir)
    return {};
#endif
}

std::optional<QString> nodePath()
{
    // A function-local static is initialised once, thread-safely.
    static const std::optional<QString> path =
        findNode(environment("OSTREL_NODE"), QDir::homePath(), systemNodePaths());
    return path;
}

QString daemonFilePath(const QString &home) { return home + u"/.ostrel/daemon.json"_s; }

std::optional<DaemonEndpoint> daemon()
{
    const std::optional<QByteArray> bytes = readDaemonFile(daemonFilePath(QDir::homePath()));
    return bytes ? parseDaemonFile(*bytes) : std::nullopt;
}

std::optional<QByteArray> readDaemonFile(const QString &path)
{
    // Read on the main thread: a FIFO or device planted there must not block
    // the open or the read, and a symlink is not followed. The file is a few
    // dozen bytes; a bigger one is not ours to parse.
    const std::optional<std::string> bytes =
        readSmallFile(QFile::encodeName(path).toStdString(), size_t(daemonFileCap), false);
    return bytes ? std::optional(QByteArray::fromStdString(*bytes)) : std::nullopt;
}

std::optional<QString> portRefusal(qint64 port)
{
    if (port < 1 || port > 65535)
        return u"no such port"_s;
    const auto owners = sockets::loopbackListeners(quint16(port));
    if (!owners)
        return u"cannot read /proc/net/tcp"_s;
    if (owners->isEmpty())
        return u"nobody listens"_s;
    for (const uid_t uid : *owners) {
        if (uid != ::geteuid())
            return u"held by uid="_s + QString::number(uid);
    }
    return std::nullopt;
}

std::optional<DaemonEndpoint> parseDaemonFile(const QByteArray &bytes)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();

    const QJsonValue port = object.value(u"port"_s);
    const QJsonValue token = object.value(u"token"_s);
    if (!port.isDouble() || !token.isString())
        return std::nullopt;
    const double number = port.toDouble();
    if (!std::isfinite(number) || number != std::trunc(number))
        return std::nullopt;
    // Only a port that forms a valid address counts as a daemon.
    if (number < 1 || number > 65535)
        return std::nullopt;
    return DaemonEndpoint{qint64(number), token.toString()};
}

QNetworkRequest request(const DaemonEndpoint &endpoint, const QString &path)
{
    QNetworkRequest request(QUrl(u"http://127.0.0.1:"_s + QString::number(endpoint.port) + path));
    request.setRawHeader("x-ostrel-token", endpoint.token.toUtf8());
    return request;
}

QStringList systemNodePaths()
{
    return {u"/opt/homebrew/bin/node"_s, u"/usr/local/bin/node"_s, u"/usr/bin/node"_s};
}

QStringList nodeCandidates(const QString &home, const QStringList &systemPaths)
{
    const QString versions = home + u"/.nvm/versions/node"_s;
    QStringList names = QDir(versions).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
    std::stable_sort(names.begin(), names.end(),
                     [](const QString &a, const QString &b) { return numericCompare(a, b) > 0; });

    QStringList candidates;
    for (const QString &name : std::as_const(names))
        candidates << versions + u'/' + name + u"/bin/node"_s;
    return candidates + systemPaths;
}

std::optional<QString> findNode(const std::optional<QString> &override, const QString &home,
                                const QStringList &systemPaths)
{
    if (override && isExecutableFile(*override))
        return *override;
    for (const QString &candidate : nodeCandidates(home, systemPaths)) {
        if (isExecutableFile(candidate))
            return candidate;
    }
    return std::nullopt;
}

int numericCompare(QStringView a, QStringView b)
{
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (isAsciiDigit(a[i]) && isAsciiDigit(b[j])) {
            const qsizetype endA = digitRunEnd(a, i);
            const qsizetype endB = digitRunEnd(b, j);
            const QStringView runA = significantDigits(a.mid(i, endA - i));
            const QStringView runB = significantDigits(b.mid(j, endB - j));
            if (runA.size() != runB.size())
                return runA.size() < runB.size() ? -1 : 1;
            if (const int c = runA.compare(runB); c != 0)
                return c < 0 ? -1 : 1;
            i = endA;
            j = endB;
            continue;
        }
        if (a[i] != b[j])
            return a[i].unicode() < b[j].unicode() ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size())
        return 1;
    if (j < b.size())
        return -1;
    return 0;
}

} // namespace ostrel::TarnBridge
