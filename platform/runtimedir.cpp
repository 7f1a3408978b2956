#include "platform/runtimedir.h"

#include <QByteArray>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace ostrel {
namespace {

bool isPrivateDirectory(const QByteArray &path)
{
    struct stat st {};
    // lstat: a symlink is not a directory, whatever it points at.
    return ::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
           (st.st_mode & 077) == 0;
}

} // namespace

RuntimeDir runtimeDirectory()
{
    const QByteArray xdg = qgetenv("XDG_RUNTIME_DIR");
    if (xdg.startsWith('/') && isPrivateDirectory(xdg))
        return {QString::fromLocal8Bit(xdg), {}};
    const QByteArray own = "/tmp/ostrel-" + QByteArray::number(::geteuid());
    if (::mkdir(own.constData(), 0700) != 0 && errno != EEXIST)
        return {{},
                u"cannot create "_s + QString::fromLocal8Bit(own) + u": "_s +
                    QString::fromLocal8Bit(std::strerror(errno))};
    if (!isPrivateDirectory(own))
        return {{}, QString::fromLocal8Bit(own) + u" is not a private directory of this user"_s};
    return {QString::fromLocal8Bit(own), {}};
}

} // namespace ostrel
