#include "app/instance.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace ostrel {
namespace {

// Opens the pid file only if it is a regular file of ours; never follows a
// symlink, never blocks on a FIFO planted there.
int openPidFile(const QString &path, int flags)
{
    const int fd = ::open(path.toLocal8Bit().constData(),
                          flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0600);
    if (fd < 0)
        return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
        ::close(fd);
        errno = EPERM;
        return -1;
    }
    return fd;
}

pid_t readPid(int fd)
{
    char buffer[32] = {};
    const ssize_t got = ::pread(fd, buffer, sizeof buffer - 1, 0);
    if (got <= 0)
        return 0;
    bool ok = false;
    const long pid = QByteArray(buffer, got).trimmed().toLong(&ok);
    return ok && pid > 0 ? pid_t(pid) : 0;
}

QString systemError() { return QString::fromLocal8Bit(std::strerror(errno)); }

bool isOurOstrel(pid_t pid)
{
    const QByteArray proc = "/proc/" + QByteArray::number(pid);
    struct stat st {};
    if (::kill(pid, 0) != 0 || ::stat(proc.constData(), &st) != 0 || st.st_uid != ::geteuid())
        return false;
    QFile comm(QString::fromLatin1(proc + "/comm"));
    if (comm.open(QIODevice::ReadOnly) && comm.read(64).trimmed() == "ostrel")
        return true;
    return QFileInfo(QString::fromLatin1(proc + "/exe")).symLinkTarget().endsWith("/ostrel"_L1);
}

} // namespace

QString pidFilePath(const QString &runtimeDir) { return runtimeDir + u"/ostrel.pid"_s; }

InstanceClaim claimInstance(const QString &pidFile)
{
    const int fd = openPidFile(pidFile, O_RDWR | O_CREAT);
    if (fd < 0)
        return {InstanceClaim::Outcome::Unavailable, 0, pidFile + u": "_s + systemError()};
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const pid_t other = readPid(fd);
        ::close(fd);
        return {InstanceClaim::Outcome::AlreadyRunning, other, {}};
    }
    const QByteArray pid = QByteArray::number(::getpid()) + '\n';
    if (::ftruncate(fd, 0) != 0 ||
        ::pwrite(fd, pid.constData(), size_t(pid.size()), 0) != pid.size()) {
        const QString error = pidFile + u": "_s + systemError();
        ::close(fd);
        return {InstanceClaim::Outcome::Unavailable, 0, error};
    }
    // The descriptor stays open, and the lock with it, until the process
    // ends; O_CLOEXEC keeps children from inheriting it.
    return {InstanceClaim::Outcome::Claimed, 0, {}};
}

std::optional<pid_t> runningInstance(const QString &pidFile, QString *error)
{
    const int fd = openPidFile(pidFile, O_RDONLY);
    if (fd < 0) {
        *error = errno == ENOENT ? u"no running ostrel"_s : pidFile + u": "_s + systemError();
        return std::nullopt;
    }
    const bool locked = ::flock(fd, LOCK_SH | LOCK_NB) != 0;
    const pid_t pid = readPid(fd);
    ::close(fd);
    if (!locked || !pid || !isOurOstrel(pid)) {
        *error = u"no running ostrel"_s;
        return std::nullopt;
    }
    return pid;
}

} // namespace ostrel
