#include "platform/childprocess.h"

#include <QFile>
#include <QProcess>
#include <QTimer>

#include <csignal>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef CLOSE_RANGE_CLOEXEC
#define CLOSE_RANGE_CLOEXEC (1U << 2)
#endif

namespace ostrel {
namespace {

// Runs in the child between fork and exec: only async-signal-safe calls.
void markInheritedCloseOnExec()
{
    if (::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) == 0)
        return;
    const long limit = ::sysconf(_SC_OPEN_MAX);
    for (int fd = 3; fd < (limit > 0 && limit < 65536 ? limit : 65536); ++fd)
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
}

} // namespace

bool isExecutableFile(const QString &path)
{
    if (path.isEmpty())
        return false;
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    return ::stat(native.constData(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(native.constData(), X_OK) == 0;
}

void prepareChild(QProcess &process)
{
    const pid_t parent = ::getpid();
    process.setChildProcessModifier([parent] {
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        // We may have died before the request was made.
        if (::getppid() != parent)
            ::_exit(127);
        // Descriptors someone gave us without close-on-exec (a lock, a socket
        // of the session) are no business of the child's.
        markInheritedCloseOnExec();
    });
}

bool startChild(QProcess &process, QIODevice::OpenMode mode, QString *error)
{
    process.start(mode);
    if (process.waitForStarted(-1))
        return true;
    if (error)
        *error = process.errorString();
    return false;
}

ChildGroup::~ChildGroup()
{
    if (m_ending)
        kill();
}

void ChildGroup::adopt(qint64 pid)
{
    m_group = pid_t(pid);
    m_ending = false;
}

void ChildGroup::terminate()
{
    if (m_group <= 0)
        return;
    m_ending = true;
    ::kill(-m_group, SIGTERM);
}

void ChildGroup::end(QObject *owner, std::chrono::milliseconds grace)
{
    if (m_group <= 0)
        return;
    if (grace.count() <= 0) {
        m_ending = true;
        kill();
        return;
    }
    terminate();
    // The group is a member of its owner, so it is there when this fires.
    QTimer::singleShot(grace, owner, [this] { kill(); });
}

void ChildGroup::kill()
{
    if (m_group > 0)
        ::kill(-m_group, SIGKILL);
    m_group = 0;
}

void ChildGroup::release()
{
    if (!m_ending)
        m_group = 0;
}

} // namespace ostrel
