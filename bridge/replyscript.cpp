#include "bridge/replyscript.h"

#include "bridge/replies.h"
#include "platform/childprocess.h"

#include <QCoreApplication>

using namespace Qt::StringLiterals;

namespace ostrel {

ReplyScript::ReplyScript(QObject *parent)
    : QObject(parent)
{
    m_process.setInputChannelMode(QProcess::ForwardedInputChannel);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    endWithParent(m_process);
    connect(&m_process, &QProcess::readyReadStandardOutput, this, &ReplyScript::readOutput);
    connect(&m_process, &QProcess::finished, this, [this] {
        readOutput();
        if (m_stopped)
            deleteLater();
        else
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
        m_process.kill();
        m_process.waitForFinished(1000);
    }
}

bool ReplyScript::start(const QString &program, const QString &repository, const QString &goal,
                        QString *error)
{
    m_process.setProgram(program);
    m_process.setArguments({repository + u"/ostrel/respond.mjs"_s, goal});
    m_process.setWorkingDirectory(repository);
    return startChild(m_process, QIODevice::ReadOnly, error);
}

void ReplyScript::stop(std::chrono::milliseconds grace)
{
    m_stopped = true;
    if (!running()) {
        deleteLater();
        return;
    }
    if (grace.count() == 0) {
        m_process.kill();
        return;
    }
    terminateWithGrace(m_process, this, grace);
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
        m_process.terminate();
    }
}

} // namespace ostrel
