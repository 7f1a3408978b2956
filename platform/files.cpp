#include "platform/files.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrel {

std::string systemError() { return std::strerror(errno); }

std::string linkTarget(const std::string &path)
{
    char target[4096] = {};
    const ssize_t length = ::readlink(path.c_str(), target, sizeof target - 1);
    return length > 0 ? std::string(target, size_t(length)) : std::string();
}

std::optional<std::string> readSmallFile(const std::string &path, size_t cap, bool ownOnly)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return std::nullopt;
    std::optional<std::string> bytes;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && (!ownOnly || st.st_uid == ::geteuid())) {
        bytes.emplace();
        char buffer[4096];
        ssize_t got = 0;
        while (bytes->size() <= cap && (got = ::read(fd, buffer, sizeof buffer)) > 0)
            bytes->append(buffer, size_t(got));
        if (got < 0 || bytes->size() > cap)
            bytes.reset();
    }
    ::close(fd);
    return bytes;
}

bool writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.remove_prefix(size_t(written));
    }
    return true;
}

int replaceFile(const std::string &path, std::string_view bytes, mode_t mode, bool sync)
{
    const size_t slash = path.rfind('/');
    std::string temporary = path.substr(0, slash + 1) + '.' + path.substr(slash + 1) + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return errno;
    const bool written =
        ::fchmod(fd, mode) == 0 && writeAll(fd, bytes) && (!sync || ::fsync(fd) == 0);
    int error = written ? 0 : errno;
    ::close(fd);
    if (written && ::rename(temporary.c_str(), path.c_str()) != 0)
        error = errno;
    if (error)
        ::unlink(temporary.c_str());
    return error;
}

} // namespace ostrel
