#include "platform/signaltrigger.h"
#include "tests/testkit/testmain.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <csignal>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace ostrel;

namespace {

// The SIGPIPE bit of a /proc/<pid>/status mask line such as "SigIgn:".
bool maskHas(const QByteArray &status, const QByteArray &field)
{
    for (const QByteArray &line : status.split('\n')) {
        if (line.startsWith(field))
            return (line.mid(field.size()).trimmed().toULongLong(nullptr, 16) >> (SIGPIPE - 1)) & 1;
    }
    return false;
}

} // namespace

class TestSignalTrigger final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // More signals than the pipe holds, before the loop runs, coalesce into one trigger.
    void burstTriggersOnce()
    {
        SignalTrigger trigger(SIGUSR1);
        QVERIFY(trigger.isValid());
        QSignalSpy spy(&trigger, &SignalTrigger::triggered);
        for (int i = 0; i < 70000; ++i)
            ::kill(::getpid(), SIGUSR1);
        QVERIFY(spy.wait(5000));
        // Delivered synchronously to this thread: nothing more is pending.
        QCoreApplication::processEvents();
        QCOMPARE(spy.size(), 1);
        // The pipe is shared: a second trigger cannot work alongside.
        QVERIFY(!SignalTrigger(SIGUSR2).isValid());
    }

    // A broken pipe must not end Ostrel, but the programs it starts keep the default.
    void brokenPipesCaughtHereDefaultInChildren()
    {
        SignalTrigger::survivePipeErrors();
        QFile self(u"/proc/self/status"_s);
        QVERIFY(self.open(QIODevice::ReadOnly));
        const QByteArray mine = self.readAll();
        QVERIFY(maskHas(mine, "SigCgt:") && !maskHas(mine, "SigBlk:"));

        QProcess child;
        child.start(u"/bin/cat"_s, {u"/proc/self/status"_s});
        QVERIFY(child.waitForFinished(10000));
        const QByteArray theirs = child.readAllStandardOutput();
        QVERIFY(theirs.contains("SigIgn:"));
        for (const char *mask : {"SigIgn:", "SigBlk:", "SigCgt:"})
            QVERIFY2(!maskHas(theirs, mask), mask);
    }
};

OSTREL_TEST(TestSignalTrigger)
#include "tst_signaltrigger.moc"
