#include "voice/listener.h"

#include "platform/files.h"
#include "platform/runtimedir.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <algorithm>
#include <csignal>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace ostrel {
namespace {

constexpr qint64 recordCap = 64 * 1024;

// A small file of ours (files under /proc/PID belong to the process's
// user); empty when there is none.
QByteArray readOwnFile(const QByteArray &path, qint64 cap)
{
    return QByteArray::fromStdString(
        readSmallFile(path.toStdString(), size_t(cap), true).value_or(std::string()));
}

std::optional<Listener::Record> readRecord(const QString &path)
{
    const QJsonObject object =
        QJsonDocument::fromJson(readOwnFile(QFile::encodeName(path), recordCap)).object();
    Listener::Record record{
        object.value("pid"_L1).toInteger(), object.value("start"_L1).toInteger(), {}};
    for (const QJsonValue &argument : object.value("commandLine"_L1).toArray())
        record.commandLine << argument.toString();
    if (record.pid <= 0 || record.startTime <= 0 || record.commandLine.isEmpty())
        return std::nullopt;
    return record;
}

// glibc's wrappers are declared without C linkage for C++; the calls are
// made directly.
int openPidfd(pid_t pid) { return int(::syscall(SYS_pidfd_open, pid, 0)); }
void signalPidfd(int pidfd, int signal)
{
    ::syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0);
}

// Waits for the process behind `pidfd` to end, at most `timeout`.
bool waitForEnd(int pidfd, std::chrono::milliseconds timeout)
{
    pollfd watch{pidfd, POLLIN, 0};
    int ready = 0;
    do {
        ready = ::poll(&watch, 1, int(timeout.count()));
    } while (ready < 0 && errno == EINTR);
    return ready > 0;
}

} // namespace

Listener::Listener(QObject *parent)
    : QObject(parent)
{
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    prepareChild(m_process);
    connect(&m_process, &QProcess::readyReadStandardOutput, this, &Listener::readOutput);
    connect(&m_process, &QProcess::finished, this, [this](int code, QProcess::ExitStatus status) {
        forgetRecord();
        if (m_stopped) {
            m_group.kill();
            deleteLater();
            return;
        }
        m_group.release();
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
    forgetRecord();
}

QString Listener::interpreterPath(const QString &repository)
{
    return repository + u"/voice/.venv/bin/python"_s;
}

QString Listener::scriptPath(const QString &repository)
{
    return repository + u"/ostrel/listen.py"_s;
}

QString Listener::recordPath()
{
    const RuntimeDir dir = runtimeDirectory();
    return dir.path.empty() ? QString()
                            : QString::fromStdString(dir.path) + u"/ostrel-listener.json"_s;
}

std::optional<qint64> Listener::startTimeOf(qint64 pid)
{
    const QByteArray stat = readOwnFile("/proc/" + QByteArray::number(pid) + "/stat", 4096);
    // "pid (comm) state ppid ...": the name may hold spaces and parentheses,
    // the fields after its last parenthesis do not. The start time is the
    // 22nd field, the 20th after the name.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    bool ok = false;
    const qint64 startTime = fields.value(19).toLongLong(&ok);
    if (!ok || stat.isEmpty())
        return std::nullopt;
    return startTime;
}

std::optional<Listener::Record> Listener::describe(qint64 pid)
{
    const std::optional<qint64> startTime = startTimeOf(pid);
    if (!startTime)
        return std::nullopt;
    QByteArray commandLine =
        readOwnFile("/proc/" + QByteArray::number(pid) + "/cmdline", recordCap);
    if (commandLine.endsWith('\0'))
        commandLine.chop(1);
    Record record{pid, *startTime, {}};
    for (const QByteArray &argument : commandLine.split('\0'))
        record.commandLine << QFile::decodeName(argument);
    return record;
}

void Listener::endStale(std::chrono::milliseconds timeout)
{
    const QString path = recordPath();
    if (path.isEmpty())
        return;
    const std::optional<Record> recorded = readRecord(path);
    QFile::remove(path);
    if (!recorded)
        return;
    // The descriptor stays with the process it was opened on, even if the
    // pid is reused meanwhile; describe() then tells the difference.
    const int pidfd = openPidfd(pid_t(recorded->pid));
    if (pidfd < 0)
        return;
    // Only ours (describe() reads nothing of another user's) and only the
    // very process that was recorded, still running what it was started as.
    if (describe(recorded->pid) == recorded) {
        // It leads its own process group: its workers go with it.
        ::kill(-pid_t(recorded->pid), SIGTERM);
        if (!waitForEnd(pidfd, std::min<std::chrono::milliseconds>(timeout, 1s))) {
            signalPidfd(pidfd, SIGKILL);
            ::kill(-pid_t(recorded->pid), SIGKILL);
            waitForEnd(pidfd, 100ms);
        }
    }
    ::close(pidfd);
}

bool Listener::start(const QString &repository, QString *error)
{
    m_process.setProgram(interpreterPath(repository));
    m_process.setArguments({scriptPath(repository)});
    m_process.setWorkingDirectory(repository);
    if (!startChild(m_process, QIODevice::ReadWrite, error))
        return false;
    m_group.adopt(m_process.processId());
    // The record names the process by what it was started as, not by what
    // /proc says yet: the exec may not have happened when we look.
    m_record = recordPath();
    const qint64 pid = m_process.processId();
    const std::optional<qint64> startTime = startTimeOf(pid);
    if (!m_record.isEmpty() && startTime &&
        writeRecord(m_record,
                    {pid, *startTime, QStringList{m_process.program()} + m_process.arguments()}))
        m_recordedPid = pid;
    return true;
}

bool Listener::writeRecord(const QString &path, const Record &record)
{
    QSaveFile file(path);
    const QJsonObject object{{"pid"_L1, record.pid},
                             {"start"_L1, record.startTime},
                             {"commandLine"_L1, QJsonArray::fromStringList(record.commandLine)}};
    return file.open(QIODevice::WriteOnly) &&
           file.write(QJsonDocument(object).toJson(QJsonDocument::Compact)) > 0 && file.commit();
}

void Listener::forgetRecord()
{
    if (!m_recordedPid)
        return;
    // Only a record that still names this listener: a later one is not ours
    // to remove.
    if (const auto record = readRecord(m_record); record && record->pid == m_recordedPid)
        QFile::remove(m_record);
    m_recordedPid = 0;
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
        forgetRecord();
        deleteLater();
        return;
    }
    send("quit");
    m_group.end(this, grace);
}

void Listener::end()
{
    if (!running())
        return;
    send("quit");
    m_process.waitForBytesWritten(100);
    m_group.terminate();
    if (!m_process.waitForFinished(1000)) {
        m_group.kill();
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
