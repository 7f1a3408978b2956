#include "bridge/replyscript.h"

#include "bridge/replies.h"

#include <QCoreApplication>

using namespace Qt::StringLiterals;

namespace ostrel {

ReplyScript::ReplyScript(QObject *parent)
    : QObject(parent)
{
    m_process.setInputChannelMode(QProcess::ForwardedInputChannel);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    prepareChild(m_process);
    m_deadline.setSingleShot(true);
    m_deadline.setInterval(defaultDeadline);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        m_timedOut = true;
        m_group.end(this, defaultGrace);
    });
    connect(&m_process, &QProcess::readyReadStandardOutput, this, &ReplyScript::readOutput);
    connect(&m_process, &QProcess::finished, this, [this] {
        m_deadline.stop();
        readOutput();
        if (m_stopped) {
            // Whatever the script left in its group goes first.
            m_group.kill();
            deleteLater();
            return;
        }
        m_group.release();
        Q_EMIT finished(m_output, m_truncated);
    });
    // The event loop ends before the objects that own scripts are destroyed.
    connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this,
            [this] { stop(std::chrono::milliseconds(0)); });
}

ReplyScript::~ReplyScript()
{
    m_stopped = true;
    if (running()) {
        m_group.end(this, std::chrono::milliseconds(0));
        m_process.waitForFinished(1000);
    }
}

bool ReplyScript::start(const QString &program, const QString &repository, const QString &goal,
                        QString *error)
{
    m_process.setProgram(program);
    m_process.setArguments({repository + u"/ostrel/respond.mjs"_s, goal});
    m_process.setWorkingDirectory(repository);
    if (!startChild(m_process, QIODevice::ReadOnly, error))
        return false;
    m_group.adopt(m_process.processId());
    m_deadline.start();
    return true;
}

void ReplyScript::stop(std::chrono::milliseconds grace)
{
    m_stopped = true;
    m_deadline.stop();
    if (!running()) {
        m_group.kill();
        deleteLater();
        return;
    }
    m_group.end(this, grace);
}

void ReplyScript::readOutput()
{
    const QByteArray chunk = m_process.readAllStandardOutput();
    if (m_truncated)
        return;
    const qsizetype room = replies::cap - m_output.size();
    m_output += chunk.first(std::min(room, chunk.size()));
    if (chunk.size() > room) {
        m_truncated = true;
        // Enough to show; a writer that never stops must not keep us busy.
        m_group.end(this, defaultGrace);
    }
}

} // namespace ostrel
