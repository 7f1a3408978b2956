#include "platform/runtimedir.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrel {
namespace {

bool isPrivateDirectory(const std::string &path)
{
    struct stat st {};
    // lstat: a symlink is not a directory, whatever it points at.
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
           (st.st_mode & 077) == 0;
}

} // namespace

RuntimeDir runtimeDirectory(const char *xdgRuntimeDir, const std::string &userRuntimeDir)
{
    if (xdgRuntimeDir && xdgRuntimeDir[0] == '/' && isPrivateDirectory(xdgRuntimeDir))
        return {xdgRuntimeDir, {}};
    if (isPrivateDirectory(userRuntimeDir))
        return {userRuntimeDir, {}};
    const std::string own = "/tmp/ostrel-" + std::to_string(::geteuid());
    if (::mkdir(own.c_str(), 0700) != 0 && errno != EEXIST)
        return {{}, "cannot create " + own + ": " + std::strerror(errno)};
    if (!isPrivateDirectory(own))
        return {{}, own + " is not a private directory of this user"};
    return {own, {}};
}

RuntimeDir runtimeDirectory()
{
    return runtimeDirectory(std::getenv("XDG_RUNTIME_DIR"),
                            "/run/user/" + std::to_string(::geteuid()));
}

} // namespace ostrel
