#include "platform/signaltrigger.h"
#include "tests/testkit/testmain.h"

#include <QSignalSpy>
#include <QTest>

#include <csignal>
#include <unistd.h>

using namespace ostrel;

// A toggle sent while the program starts, before its trigger exists.
class TestEarlySignal final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void caughtBeforeTheTriggerIsDeliveredByIt()
    {
        QVERIFY(SignalTrigger::catchEarly(SIGUSR1));
        // Without the early catch this ends the test program.
        // Sent to ourselves, each is handled before kill() returns.
        QCOMPARE(::kill(::getpid(), SIGUSR1), 0);
        QCOMPARE(::kill(::getpid(), SIGUSR1), 0);

        SignalTrigger trigger(SIGUSR1);
        QVERIFY(trigger.isValid());
        QSignalSpy spy(&trigger, &SignalTrigger::triggered);
        QVERIFY(spy.wait(5000));
        QCoreApplication::processEvents();
        QCOMPARE(spy.size(), 1);
    }
};

OSTREL_TEST(TestEarlySignal)
#include "tst_earlysignal.moc"
