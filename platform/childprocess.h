#pragma once

#include <QIODevice>
#include <QString>

#include <chrono>

class QObject;
class QProcess;

namespace ostrel {

// A regular file (not a directory) that we may execute.
bool isExecutableFile(const QString &path);

// The child started by `process` ends when we do, however we end (killed
// outright too), so that no script or listener outlives the palette.
void endWithParent(QProcess &process);

// Starts `process` and waits until it runs; on failure the launch error
// goes to `error` (when given).
bool startChild(QProcess &process, QIODevice::OpenMode mode, QString *error);

// SIGTERM now, SIGKILL after `grace` if it still runs; the timer lives on
// `owner`, so nothing fires once the owner is gone.
void terminateWithGrace(QProcess &process, QObject *owner, std::chrono::milliseconds grace);

} // namespace ostrel
