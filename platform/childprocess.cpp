#include "platform/childprocess.h"

#include <QProcess>
#include <QTimer>

#include <csignal>
#include <sys/prctl.h>

namespace ostrel {

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
