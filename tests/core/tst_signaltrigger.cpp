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

// The bit of `signal` in a /proc/<pid>/status mask line such as "SigIgn:".
bool maskHas(const QByteArray &status, const QByteArray &field, int signal)
{
    for (const QByteArray &line : status.split('\n')) {
        if (line.startsWith(field))
            return (line.mid(field.size()).trimmed().toULongLong(nullptr, 16) >> (signal - 1)) & 1;
    }
    return false;
}

} // namespace

class TestSignalTrigger final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { m_trigger = std::make_unique<SignalTrigger>(SIGUSR1); }
    void cleanup() { m_trigger.reset(); }

    void oneSignalTriggersOnce()
    {
        QVERIFY(m_trigger->isValid());
        QSignalSpy spy(m_trigger.get(), &SignalTrigger::triggered);
        QCOMPARE(::kill(::getpid(), SIGUSR1), 0);
        QVERIFY(spy.wait(5000));
        QTest::qWait(50);
        QCOMPARE(spy.size(), 1);
    }

    // Far more deliveries than the pipe holds, all before the loop runs: the
    // process survives and they coalesce instead of toggling per signal.
    void burstCoalesces()
    {
        QSignalSpy spy(m_trigger.get(), &SignalTrigger::triggered);
        for (int i = 0; i < 100000; ++i)
            ::kill(::getpid(), SIGUSR1);
        QVERIFY(spy.wait(5000));
        QTest::qWait(50);
        QVERIFY2(spy.size() <= 3, qPrintable(QString::number(spy.size())));
    }

    void isNotIgnoredAndChildrenGetTheDefault()
    {
        QFile self(u"/proc/self/status"_s);
        QVERIFY(self.open(QIODevice::ReadOnly));
        const QByteArray mine = self.readAll();
        QVERIFY(!maskHas(mine, "SigIgn:", SIGUSR1));
        QVERIFY(!maskHas(mine, "SigBlk:", SIGUSR1));
        QVERIFY(maskHas(mine, "SigCgt:", SIGUSR1));

        QProcess child;
        child.start(u"/bin/cat"_s, {u"/proc/self/status"_s});
        QVERIFY(child.waitForFinished(10000));
        const QByteArray theirs = child.readAllStandardOutput();
        QVERIFY(theirs.contains("SigIgn:"));
        QVERIFY(!maskHas(theirs, "SigIgn:", SIGUSR1));
        QVERIFY(!maskHas(theirs, "SigBlk:", SIGUSR1));
        QVERIFY(!maskHas(theirs, "SigCgt:", SIGUSR1));
    }

    void secondTriggerIsRefused()
    {
        SignalTrigger second(SIGUSR2);
        QVERIFY(!second.isValid());
    }

private:
    std::unique_ptr<SignalTrigger> m_trigger;
};

OSTREL_TEST(TestSignalTrigger)
#include "tst_signaltrigger.moc"
