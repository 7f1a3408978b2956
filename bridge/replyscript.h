#pragma once

#include <QObject>
#include <QProcess>

#include <chrono>

namespace ostrel {

// One run of the agent's reply script: `node <repository>/ostrel/respond.mjs
// <goal>` in the repository, standard input and error inherited, standard
// output collected up to replies::cap. A script that writes past the cap is
// ended, and so is one left running when it is stopped, replaced or the
// application goes away.
class ReplyScript final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ReplyScript)

public:
    explicit ReplyScript(QObject *parent = nullptr);
    ~ReplyScript() override;

    // False with the reason when the program could not be launched.
    bool start(const QString &program, const QString &repository, const QString &goal,
               QString *error);
    // Asks the script to end (SIGTERM), and kills it if it has not gone
    // after the grace period. Nothing is delivered afterwards, and the object
    // deletes itself once the process is gone.
    void stop(std::chrono::milliseconds grace = std::chrono::seconds(2));

    bool running() const { return m_process.state() != QProcess::NotRunning; }
    qint64 processId() const { return m_process.processId(); }

Q_SIGNALS:
    // Once, when the script has ended for whatever reason and with whatever
    // status: what it printed, and whether that was cut at the cap.
    void finished(const QByteArray &output, bool truncated);

private:
    void readOutput();

    QProcess m_process;
    QByteArray m_output;
    bool m_truncated = false;
    bool m_stopped = false;
};

} // namespace ostrel
