#pragma once

#include <QObject>
#include <QProcess>

#include <chrono>

namespace ostrel {

// Where the palette finds the clean-up program and how long it gives it and a
// stopped listener. Tests replace the program, since the real one ends every
// listener on the machine.
struct VoiceSettings {
    QString cleanupProgram = QStringLiteral("/usr/bin/pkill");
    std::chrono::milliseconds cleanupTimeout = std::chrono::seconds(5);
    std::chrono::milliseconds stopGrace = std::chrono::seconds(2);

    // What every palette of this process starts with.
    static VoiceSettings &processDefaults();
};

// The agent's speech listener as a child process: `<repository>/voice/.venv/
// bin/python <repository>/ostrel/listen.py` in the repository, standard
// input and output on pipes, standard error inherited. Command lines go to
// its input; its output is handed on as it comes.
//
// It never outlives the application: the application ends it when it quits,
// and the kernel ends it (SIGTERM) when the application dies any other way.
class Listener final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Listener)

public:
    explicit Listener(QObject *parent = nullptr);
    ~Listener() override;

    static QString interpreterPath(const QString &repository);
    static QString scriptPath(const QString &repository);

    // Runs `program -f ostrel/listen.py`, which ends listeners left behind,
    // and waits for it: at most `timeout`, then it is killed. A program that
    // cannot be started is ignored.
    static void endStale(const QString &program, std::chrono::milliseconds timeout);

    // False with the reason when the interpreter could not be launched.
    bool start(const QString &repository, QString *error);
    // Writes the word and a line feed. Nothing happens when the listener has
    // gone; a write into a pipe nobody reads any more fails quietly.
    void send(QByteArrayView word);
    // No more output is delivered; "quit", then SIGTERM, then SIGKILL if it
    // is still there after `grace`. The object deletes itself once the
    // process is gone.
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

    QProcess m_process;
    bool m_stopped = false;
};

} // namespace ostrel
