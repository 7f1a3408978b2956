#include "platform/childprocess.h"

#include <QFile>
#include <QProcess>
#include <QTimer>

#include <csignal>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrel {

bool isExecutableFile(const QString &path)
{
    if (path.isEmpty())
        return false;
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    return ::stat(native.constData(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(native.constData(), X_OK) == 0;
}

void endWithParent(QProcess &process)
{
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
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

void terminateWithGrace(QProcess &process, QObject *owner, std::chrono::milliseconds grace)
{
    process.terminate();
    QTimer::singleShot(grace, owner, [&process] {
        if (process.state() != QProcess::NotRunning)
            process.kill();
    });
}

} // namespace ostrel
