#pragma once

#include "platform/childprocess.h"

#include <QObject>
#include <QProcess>

#include <chrono>
#include <optional>

namespace ostrel {

// How long the palette gives the clean-up and a stopped listener.
struct VoiceSettings {
    std::chrono::milliseconds cleanupTimeout = std::chrono::seconds(5);
    std::chrono::milliseconds stopGrace = std::chrono::seconds(2);
};

// The agent's speech listener as a child process: `<repository>/voice/.venv/
// bin/python <repository>/ostrel/listen.py` in the repository, standard
// input and output on pipes, standard error inherited. Command lines go to
// its input; its output is handed on as it comes.
//
// It never outlives the application: the application ends it when it quits,
// and the kernel kills it when the application dies any other way. Should
// one be left all the same, the record of it in the runtime directory lets
// the next start end that one listener, and nothing else.
class Listener final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Listener)

public:
    explicit Listener(QObject *parent = nullptr);
    ~Listener() override;

    static QString interpreterPath(const QString &repository);
    static QString scriptPath(const QString &repository);

    // Which process a record names: its pid, its start time (in clock ticks
    // since boot, as /proc/PID/stat gives it) and its command line.
    struct Record {
        qint64 pid = 0;
        qint64 startTime = 0;
        QStringList commandLine;

        friend bool operator==(const Record &, const Record &) = default;
    };
    // "ostrel-listener.json" in the runtime directory; empty without one.
    static QString recordPath();
    // The process `pid` as a record would name it, if it exists.
    static std::optional<Record> describe(qint64 pid);
    // When the process `pid` started, in clock ticks since boot.
    static std::optional<qint64> startTimeOf(qint64 pid);
    // Replaces the record at `path` whole; false when it could not.
    static bool writeRecord(const QString &path, const Record &record);

    // Ends the listener recorded at recordPath() when it still runs as ours
    // (same uid, start time and command line): SIGTERM to its process group,
    // SIGKILL if it is still there after `timeout` (a second at most). Any
    // other process, and a listener of another login, is left alone.
    static void endStale(std::chrono::milliseconds timeout);

    // False with the reason when the interpreter could not be launched.
    bool start(const QString &repository, QString *error);
    // Writes the word and a line feed. Nothing happens when the listener has
    // gone; a write into a pipe nobody reads any more fails quietly.
    void send(QByteArrayView word);
    // No more output is delivered; "quit", then SIGTERM, then SIGKILL if it
    // (or anything it started) is still there after `grace`. The object
    // deletes itself once the process is gone.
    void stop(std::chrono::milliseconds grace);

    bool running() const { return m_process.state() != QProcess::NotRunning; }
    qint64 processId() const { return m_process.processId(); }

Q_SIGNALS:
    // Every non-empty chunk of output, in order.
    void output(const QByteArray &chunk);
    // The listener ended without being stopped.
    void ended(const QString &how);

private:
    void readOutput();
    // Ends the process now, waiting a little for it.
    void end();
    void forgetRecord();

    QProcess m_process;
    ChildGroup m_group;
    QString m_record;
    qint64 m_recordedPid = 0;
    bool m_stopped = false;
};

} // namespace ostrel
