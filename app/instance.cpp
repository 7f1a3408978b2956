#include "app/instance.h"
#include "platform/files.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrel {
namespace {

// Opens the pid file only if it is a regular file of ours; never follows a
// symlink, never blocks on a FIFO planted there.
int openPidFile(const std::string &path, int flags)
{
    const int fd =
        ::open(path.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0600);
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
    if (::pread(fd, buffer, sizeof buffer - 1, 0) <= 0)
        return 0;
    char *end = nullptr;
    const long pid = std::strtol(buffer, &end, 10);
    return end != buffer && (*end == '\n' || *end == '\0') && pid > 0 ? pid_t(pid) : 0;
}

// The whole file's lock, as an open file description's own: it lives as long
// as the descriptor, and looking at it (F_OFD_GETLK) takes nothing, so a
// --toggle asking at the moment a palette starts never makes the palette
// think another one runs.
struct flock wholeFile(short type)
{
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    return lock;
}

bool isOurOstrel(pid_t pid)
{
    const std::string proc = "/proc/" + std::to_string(pid);
    struct stat st {};
    if (::kill(pid, 0) != 0 || ::stat(proc.c_str(), &st) != 0 || st.st_uid != ::geteuid())
        return false;
    if (readSmallFile(proc + "/comm", 255, false) == "ostrel\n")
        return true;
    return linkTarget(proc + "/exe").ends_with("/ostrel");
}

} // namespace

std::string pidFilePath(const std::string &runtimeDir) { return runtimeDir + "/ostrel.pid"; }

InstanceClaim claimInstance(const std::string &pidFile)
{
    const int fd = openPidFile(pidFile, O_RDWR | O_CREAT);
    if (fd < 0)
        return {InstanceClaim::Outcome::Unavailable, 0, pidFile + ": " + systemError()};
    struct flock lock = wholeFile(F_WRLCK);
    if (::fcntl(fd, F_OFD_SETLK, &lock) != 0) {
        if (errno != EAGAIN && errno != EACCES) {
            const std::string error = "cannot lock " + pidFile + ": " + systemError();
            ::close(fd);
            return {InstanceClaim::Outcome::Unavailable, 0, error};
        }
        const pid_t other = readPid(fd);
        ::close(fd);
        return {InstanceClaim::Outcome::AlreadyRunning, other, {}};
    }
    const std::string pid = std::to_string(::getpid()) + '\n';
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) != ssize_t(pid.size())) {
        const std::string error = pidFile + ": " + systemError();
        ::close(fd);
        return {InstanceClaim::Outcome::Unavailable, 0, error};
    }
    // The descriptor stays open, and the lock with it, until the process
    // ends; O_CLOEXEC keeps children from inheriting it.
    return {InstanceClaim::Outcome::Claimed, 0, {}};
}

std::optional<pid_t> runningInstance(const std::string &pidFile, std::string *error)
{
    const int fd = openPidFile(pidFile, O_RDONLY);
    if (fd < 0) {
        *error = errno == ENOENT ? "no running ostrel" : pidFile + ": " + systemError();
        return std::nullopt;
    }
    struct flock lock = wholeFile(F_RDLCK);
    const bool locked = ::fcntl(fd, F_OFD_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
    const pid_t pid = readPid(fd);
    ::close(fd);
    if (!locked || !pid || !isOurOstrel(pid)) {
        *error = "no running ostrel";
        return std::nullopt;
    }
    return pid;
}

} // namespace ostrel
