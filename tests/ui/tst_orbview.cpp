#include "tests/testkit/animationclock.h"
#include "tests/testkit/testmain.h"
#include "ui/orbview.h"

#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;
using ostrel::KeyedAnimations;
using ostrel::OrbView;

namespace {

const QString breathe = u"breathe"_s;
const QString pulse = u"pulse"_s;

// Counts the presses that reach the orb's parent.
class Host final : public QWidget {
public:
    int presses = 0;

protected:
    void mousePressEvent(QMouseEvent *) override { ++presses; }
};

} // namespace

class TestOrbView : public QObject {
    Q_OBJECT

    std::unique_ptr<ostrel::testing::AnimationClock> m_clock;
    std::unique_ptr<Host> m_host;
    OrbView *m_orb = nullptr;

private Q_SLOTS:
    void init()
    {
        m_clock = std::make_unique<ostrel::testing::AnimationClock>();
        m_host = std::make_unique<Host>();
        m_host->resize(200, 100);
        m_orb = new OrbView(m_host.get());
        m_orb->setGeometry(QRect(100, 30, 22, 22).marginsAdded(OrbView::overflowMargins()));
    }
    void cleanup()
    {
        m_host.reset();
        m_clock.reset();
    }

    // Breathing runs only while listening, and only while the orb is shown;
    // switching it on again does not start the breath over.
    void breathesWhileListeningAndShown()
    {
        const KeyedAnimations &core = m_orb->coreAnimations();
        m_orb->setListening(true);
        m_clock->run(400);
        const double waiting = core.value(breathe, 0.0); // never shown yet
        m_host->show();
        m_clock->run(400);
        const double breathing = core.value(breathe, 0.0);
        QVERIFY(breathing > waiting);

        QSignalSpy changed(&core, &KeyedAnimations::changed);
        m_orb->setListening(true);
        QCOMPARE(changed.count(), 0);
        m_host->hide();
        m_clock->run(400);
        QCOMPARE(changed.count(), 0);
        QCOMPARE(core.value(breathe, 0.0), breathing);
        m_host->show();
        m_clock->run(100);
        QVERIFY(core.value(breathe, 0.0) > breathing);

        m_orb->setListening(false);
        QVERIFY(core.keys().isEmpty());
    }

    // A partial transcript pulses the orb while listening; a pulse during a
    // pulse starts over, and the pulse leaves the breath behind.
    void pulsesWhileListening()
    {
        m_host->show();
        m_orb->pulse();
        QVERIFY(m_orb->coreAnimations().keys().isEmpty()); // not listening
        m_orb->setListening(true);
        m_orb->pulse();
        m_clock->run(150);
        QVERIFY(m_orb->coreAnimations().value(pulse, 1.0) > 1.0);
        m_orb->pulse();
        QCOMPARE(m_orb->coreAnimations().value(pulse, 0.0), 1.0);
        QCOMPARE(m_orb->haloAnimations().value(pulse, 0.0), 1.0);

        m_clock->run(600);
        QCOMPARE(m_orb->coreAnimations().keys(), QStringList{breathe});
        QVERIFY(m_orb->haloAnimations().keys().isEmpty());
    }

    // Only a press on the orb itself calls back; none reaches the panel below.
    void clicks()
    {
        m_host->show();
        int called = 0;
        m_orb->setOnClick([&] { ++called; });
        QTest::mouseClick(m_orb, Qt::LeftButton, {}, QPoint(3, 19)); // in the overflow
        QCOMPARE(called, 0);
        QTest::mouseClick(m_orb, Qt::LeftButton, {}, QPoint(19, 19));
        QCOMPARE(called, 1);
        QCOMPARE(m_host->presses, 0);
    }
};

OSTREL_TEST(TestOrbView)
#include "tst_orbview.moc"
