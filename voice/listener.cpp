#include "voice/listener.h"

#include "platform/childprocess.h"

#include <QCoreApplication>

using namespace Qt::StringLiterals;

namespace ostrel {

VoiceSettings &VoiceSettings::processDefaults()
{
    static VoiceSettings settings;
    return settings;
}

Listener::Listener(QObject *parent)
    : QObject(parent)
{
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    endWithParent(m_process);
    connect(&m_process, &QProcess::readyReadStandardOutput, this, &Listener::readOutput);
    connect(&m_process, &QProcess::finished, this, [this](int code, QProcess::ExitStatus status) {
        if (m_stopped) {
            deleteLater();
            return;
        }
        readOutput();
        Q_EMIT ended(status == QProcess::CrashExit ? u"crashed"_s : u"exit status %1"_s.arg(code));
    });
    // A listener holds the microphone: it must not outlive us. The event loop
    // ends before the palette that owns it is destroyed.
    connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, [this] {
        m_stopped = true;
        disconnect(&m_process, &QProcess::readyReadStandardOutput, this, &Listener::readOutput);
        end();
    });
}

Listener::~Listener()
{
    m_stopped = true;
    end();
}

QString Listener::interpreterPath(const QString &repository)
{
    return repository + u"/voice/.venv/bin/python"_s;
}

QString Listener::scriptPath(const QString &repository)
{
    return repository + u"/ostrel/listen.py"_s;
}

void Listener::endStale(const QString &program, std::chrono::milliseconds timeout)
{
    QProcess cleanup;
    cleanup.setProgram(program);
    cleanup.setArguments({u"-f"_s, u"ostrel/listen.py"_s});
    cleanup.setStandardInputFile(QProcess::nullDevice());
    cleanup.setProcessChannelMode(QProcess::ForwardedChannels);
    cleanup.start();
    if (!cleanup.waitForStarted(-1))
        return;
    if (!cleanup.waitForFinished(int(timeout.count()))) {
        cleanup.kill();
        cleanup.waitForFinished(-1);
    }
}

bool Listener::start(const QString &repository, QString *error)
{
    m_process.setProgram(interpreterPath(repository));
    m_process.setArguments({scriptPath(repository)});
    m_process.setWorkingDirectory(repository);
    return startChild(m_process, QIODevice::ReadWrite, error);
}

void Listener::send(QByteArrayView word)
{
    // QProcess writes from the event loop with SIGPIPE blocked, so a listener
    // that closed its input only turns the write into an error we ignore.
    if (m_process.state() == QProcess::Running && m_process.isWritable())
        m_process.write(word.toByteArray() + '\n');
}

void Listener::stop(std::chrono::milliseconds grace)
{
    m_stopped = true;
    disconnect(&m_process, &QProcess::readyReadStandardOutput, this, &Listener::readOutput);
    if (!running()) {
        deleteLater();
        return;
    }
    send("quit");
    terminateWithGrace(m_process, this, grace);
}

void Listener::end()
{
    if (!running())
        return;
    send("quit");
    m_process.waitForBytesWritten(100);
    m_process.terminate();
    if (!m_process.waitForFinished(1000)) {
        m_process.kill();
        m_process.waitForFinished(1000);
    }
}

void Listener::readOutput()
{
    const QByteArray chunk = m_process.readAllStandardOutput();
    if (!chunk.isEmpty())
        Q_EMIT output(chunk);
}

} // namespace ostrel
