#include "platform/log.h"

#include "platform/files.h"
#include "platform/peertext.h"
#include "platform/systemlog.h"

#include <QMutex>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

using namespace Qt::StringLiterals;

namespace ostrel {
namespace {

// Opens an existing log for appending only if it is a regular file of ours
// with no other name: a hard link would carry our lines into a file we do
// not know. O_NOFOLLOW refuses a symlink at the path; O_NONBLOCK keeps a FIFO
// planted there from hanging us before fstat can reject it. A log left open
// to others is made private again.
int openOwnLog(const QByteArray &path)
{
    const int fd = ::open(path.constData(),
                          O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() ||
        st.st_nlink != 1 || ((st.st_mode & 07777) != 0600 && ::fchmod(fd, 0600) != 0)) {
        ::close(fd);
        errno = EPERM;
        return -1;
    }
    return fd;
}

} // namespace

QString logTimestamp(const QDateTime &moment)
{
    return moment.toUTC().toString(u"yyyy-MM-dd HH:mm:ss"_s) + u" +0000"_s;
}

QByteArray logFileLine(const QString &message, const QDateTime &moment)
{
    return (logTimestamp(moment) + u' ' + message + u'\n').toUtf8();
}

void appendLogFile(const QString &path, const QByteArray &bytes)
{
    const QByteArray native = path.toLocal8Bit();
    for (int attempt = 0; attempt < 2; ++attempt) {
        int fd = openOwnLog(native);
        if (fd < 0 && errno == ENOENT) {
            // A missing log is created private; O_EXCL loses cleanly to a
            // file (or symlink) that appeared in the meantime.
            fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                        0600);
            if (fd < 0 && errno == EEXIST)
                continue;
        }
        if (fd >= 0) {
            // One write(2) per entry: with O_APPEND, lines of processes
            // logging at once never interleave.
            ssize_t written = 0;
            do {
                written = ::write(fd, bytes.constData(), size_t(bytes.size()));
            } while (written < 0 && errno == EINTR);
            ::close(fd);
            return;
        }
        break;
    }
    // Replaced by a private file holding only this line; where even that is
    // refused (another user's file in sticky /tmp), the line is lost.
    replaceFile(native.toStdString(), std::string_view(bytes.constData(), size_t(bytes.size())),
                0600, false);
}

LogThrottle::LogThrottle(int burst, int perSecond)
    : m_burst(burst)
    , m_perSecond(perSecond)
    , m_tokens(burst)
{
}

bool LogThrottle::admit(Clock::time_point now, qint64 *dropped)
{
    if (m_last && now > *m_last) {
        const double seconds = std::chrono::duration<double>(now - *m_last).count();
        m_tokens = std::min(m_burst, m_tokens + seconds * m_perSecond);
    }
    if (!m_last || now > *m_last)
        m_last = now;
    if (m_tokens < 1) {
        ++m_dropped;
        return false;
    }
    m_tokens -= 1;
    *dropped = std::exchange(m_dropped, 0);
    return true;
}

void log(const QString &message)
{
    static QMutex mutex;
    // Far more than start-up and a busy session log, far less than a
    // listener printing errors in a loop.
    static LogThrottle throttle(100, 20);
    qint64 dropped = 0;
    {
        QMutexLocker lock(&mutex);
        if (!throttle.admit(LogThrottle::Clock::now(), &dropped))
            return;
    }
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QString line = escapeControls(message, messageLimit);
    if (dropped > 0) {
        const QString note = u"log throttled, dropped="_s + QString::number(dropped);
        writeSystemLog(note);
        appendLogFile(QString::fromLatin1(logFilePath), logFileLine(note, now));
    }
    writeSystemLog(line);
    appendLogFile(QString::fromLatin1(logFilePath), logFileLine(line, now));
}

} // namespace ostrel
