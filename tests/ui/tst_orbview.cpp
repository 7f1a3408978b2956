#include "tests/testkit/animationclock.h"
#include "tests/testkit/testmain.h"
#include "ui/orbview.h"

#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;
using ostrel::KeyedAnimations;
using ostrel::OrbView;

// Counts the presses that reach the orb's parent.
class OrbHost final : public QWidget {
public:
    int presses = 0;

protected:
    void mousePressEvent(QMouseEvent *) override { ++presses; }
};

class TestOrbView : public QObject {
    Q_OBJECT

    std::unique_ptr<ostrel::testing::AnimationClock> m_clock;
    std::unique_ptr<OrbHost> m_host;
    OrbView *m_orb = nullptr;

    double core(const QString &key) const { return m_orb->coreAnimations().value(key, 0.0); }

private Q_SLOTS:
    void init()
    {
        m_clock = std::make_unique<ostrel::testing::AnimationClock>();
        m_host = std::make_unique<OrbHost>();
        m_host->resize(200, 100);
        m_orb = new OrbView(m_host.get());
        m_orb->setGeometry(QRect(100, 30, 22, 22).marginsAdded(OrbView::overflowMargins()));
        m_host->show();
    }
    void cleanup()
    {
        m_host.reset();
        m_clock.reset();
    }

    // Breathing runs while listening and shown, and switching it on again
    // does not start it over. A partial transcript pulses the orb while
    // listening; a pulse during a pulse starts over and leaves the breath behind.
    void listening()
    {
        m_orb->pulse();
        QVERIFY(m_orb->coreAnimations().keys().isEmpty());
        m_orb->setListening(true);
        m_clock->run(400);
        const double breathing = core(u"breathe"_s);
        QSignalSpy changed(&m_orb->coreAnimations(), &KeyedAnimations::changed);
        m_orb->setListening(true);
        m_host->hide();
        m_clock->run(400);
        QCOMPARE(changed.count(), 0);
        QCOMPARE(core(u"breathe"_s), breathing);
        m_host->show();
        m_clock->run(100);
        QVERIFY(core(u"breathe"_s) > breathing);

        m_orb->pulse();
        m_clock->run(150);
        QVERIFY(core(u"pulse"_s) > 1.0);
        m_orb->pulse();
        QCOMPARE(core(u"pulse"_s), 1.0);
        QCOMPARE(m_orb->haloAnimations().value(u"pulse"_s, 0.0), 1.0);
        m_clock->run(600);
        QCOMPARE(m_orb->coreAnimations().keys(), QStringList{u"breathe"_s});
        QVERIFY(m_orb->haloAnimations().keys().isEmpty());

        m_orb->setListening(false);
        QVERIFY(m_orb->coreAnimations().keys().isEmpty());
    }

    // Only a press on the orb itself calls back; none reaches the panel below.
    void clicks()
    {
        int called = 0;
        m_orb->setOnClick([&] { ++called; });
        QTest::mouseClick(m_orb, Qt::LeftButton, {}, QPoint(3, 19)); // in the overflow
        QTest::mouseClick(m_orb, Qt::LeftButton, {}, QPoint(19, 19));
        QCOMPARE(called, 1);
        QCOMPARE(m_host->presses, 0);
    }
};

OSTREL_TEST(TestOrbView)
#include "tst_orbview.moc"
