#pragma once

#include "platform/childprocess.h"

#include <QObject>
#include <QProcess>
#include <QTimer>

#include <chrono>

namespace ostrel {

// One run of the agent's reply script: `node <repository>/ostrel/respond.mjs
// <goal>` in the repository, standard input and error inherited, standard
// output collected up to replies::cap. The script and everything it starts
// in its process group are ended (SIGTERM, then SIGKILL after a grace
// period) when it writes past the cap, when it is still running at its
// deadline, when it is stopped or replaced, and when the application goes.
class ReplyScript final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ReplyScript)

public:
    // As long as the palette waits for the daemon's answer.
    static constexpr std::chrono::milliseconds defaultDeadline = std::chrono::seconds(20);
    static constexpr std::chrono::milliseconds defaultGrace = std::chrono::seconds(2);

    explicit ReplyScript(QObject *parent = nullptr);
    ~ReplyScript() override;

    // Set before start().
    void setDeadline(std::chrono::milliseconds deadline) { m_deadline.setInterval(deadline); }

    // False with the reason when the program could not be launched.
    bool start(const QString &program, const QString &repository, const QString &goal,
               QString *error);
    // Asks the script to end (SIGTERM), and kills it if it has not gone
    // after the grace period. Nothing is delivered afterwards, and the object
    // deletes itself once the process is gone.
    void stop(std::chrono::milliseconds grace = defaultGrace);

    bool running() const { return m_process.state() != QProcess::NotRunning; }
    qint64 processId() const { return m_process.processId(); }
    // Whether the script was ended for running past its deadline.
    bool timedOut() const { return m_timedOut; }

Q_SIGNALS:
    // Once, when the script has ended for whatever reason and with whatever
    // status: what it printed, and whether that was cut at the cap. Past the
    // deadline, that is what it printed until then (see timedOut()).
    void finished(const QByteArray &output, bool truncated);

private:
    void readOutput();

    QProcess m_process;
    ChildGroup m_group;
    QTimer m_deadline;
    QByteArray m_output;
    bool m_truncated = false;
    bool m_timedOut = false;
    bool m_stopped = false;
};

} // namespace ostrel
