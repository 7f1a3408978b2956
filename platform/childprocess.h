#pragma once

#include <QIODevice>
#include <QString>

#include <chrono>
#include <sys/types.h>

class QObject;
class QProcess;

namespace ostrel {

// A regular file (not a directory) that we may execute.
bool isExecutableFile(const QString &path);

// The child that `process` starts leads a process group of its own, so that
// it can be ended together with whatever it started; it is killed when we
// die, however we die, even if it ignores SIGTERM; and it inherits no
// descriptor of ours but its standard input, output and error.
void prepareChild(QProcess &process);

// Starts `process` and waits until it runs; on failure the launch error
// goes to `error` (when given).
bool startChild(QProcess &process, QIODevice::OpenMode mode, QString *error);

// The process group of a child started after prepareChild(), ended as a
// whole: SIGTERM first, SIGKILL after a grace period. Once its end has begun,
// whatever is left of the group is killed when this goes away at the latest.
class ChildGroup {
public:
    ChildGroup() = default;
    ~ChildGroup();
    ChildGroup(const ChildGroup &) = delete;
    ChildGroup &operator=(const ChildGroup &) = delete;

    void adopt(qint64 pid);
    // SIGTERM to the group now.
    void terminate();
    // SIGTERM to the group now, SIGKILL after `grace`; the timer lives on
    // `owner`. A zero grace kills at once.
    void end(QObject *owner, std::chrono::milliseconds grace);
    // SIGKILL to the group now; nothing is sent to it afterwards.
    void kill();
    // The child ended by itself and nobody asked it to: its group is left
    // alone (a program it started in the background may be meant to stay).
    void release();

private:
    pid_t m_group = 0;
    bool m_ending = false;
};

} // namespace ostrel
