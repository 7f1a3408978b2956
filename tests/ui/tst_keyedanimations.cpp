#include "tests/testkit/animationclock.h"
#include "tests/testkit/testmain.h"
#include "ui/keyedanimations.h"

#include <QSignalSpy>
#include <QTest>

#include <cmath>
#include <utility>

using namespace Qt::StringLiterals;
using ostrel::Animation;
using ostrel::KeyedAnimations;

Q_DECLARE_METATYPE(ostrel::Animation)

// Time moves only with the test's clock, so values are exact but for rounding.
static bool near(double value, double expected, double range)
{
    return std::abs(value - expected) <= range * 1e-9;
}

class TestKeyedAnimations : public QObject {
    Q_OBJECT

    std::unique_ptr<ostrel::testing::AnimationClock> m_clock;

private Q_SLOTS:
    void init() { m_clock = std::make_unique<ostrel::testing::AnimationClock>(); }
    void cleanup() { m_clock.reset(); }

    // 0 -> 10, linear, there and back: the value at moments of the clock (NaN: ended).
    void playsItsCyclesAndEnds_data()
    {
        QTest::addColumn<int>("repeatCount");
        QTest::addColumn<QList<QPointF>>("samples"); // (ms, value)
        QTest::newRow("twice") << 2
                               << QList<QPointF>{
                                      {200, 8}, {450, 2}, {700, 8}, {1000, std::nan("")}};
        QTest::newRow("endless") << -1 << QList<QPointF>{{100125, 5}};
    }
    void playsItsCyclesAndEnds()
    {
        QFETCH(int, repeatCount);
        QFETCH(QList<QPointF>, samples);
        KeyedAnimations animations;
        QSignalSpy changed(&animations, &KeyedAnimations::changed);
        animations.add(u"k"_s, Animation{.from = 0.0,
                                         .to = 10.0,
                                         .durationMs = 250,
                                         .autoreverses = true,
                                         .repeatCount = repeatCount});
        int now = 0;
        for (const QPointF &sample : samples) {
            changed.clear();
            m_clock->frame(int(sample.x()) - std::exchange(now, int(sample.x())));
            QVERIFY(changed.size() > 0);
            const double value = animations.value(u"k"_s, std::nan(""));
            QVERIFY2(std::isnan(sample.y()) ? std::isnan(value) : near(value, sample.y(), 10),
                     qPrintable(u"at %1 ms: %2"_s.arg(now).arg(value)));
        }
    }

    // Stopping the endless one it replaces reports it as finished: that must
    // not take the new one with it.
    void addingUnderAKeyInUseRestarts()
    {
        KeyedAnimations animations;
        animations.add(u"k"_s, Animation{.to = 100.0, .durationMs = 2000, .repeatCount = -1});
        m_clock->frame(1000);
        animations.add(u"k"_s, Animation{.from = 50.0, .to = 60.0, .durationMs = 2000});
        QCOMPARE(animations.value(u"k"_s, 0.0), 50.0);
        m_clock->run(1500);
        QCOMPARE(animations.keys(), QStringList{u"k"_s});
        QVERIFY(near(animations.value(u"k"_s, 0.0), 57.5, 10));
    }

    void pausingHoldsEverything()
    {
        KeyedAnimations animations;
        const Animation animation{.from = 0.0, .to = 1.0, .durationMs = 1000};
        animations.add(u"early"_s, animation);
        m_clock->run(300);
        animations.setPaused(true);
        animations.add(u"late"_s, animation);
        QSignalSpy changed(&animations, &KeyedAnimations::changed);
        m_clock->run(2000);
        QCOMPARE(changed.count(), 0);
        QCOMPARE(animations.value(u"late"_s, -1.0), 0.0);

        animations.setPaused(false);
        m_clock->run(200);
        QVERIFY(near(animations.value(u"early"_s, -1.0), 0.5, 1));
        QVERIFY(near(animations.value(u"late"_s, -1.0), 0.2, 1));
    }

    // Input that cannot animate ends at once instead of dividing by zero or
    // spreading NaN through the view that reads it.
    void inputThatCannotAnimate_data()
    {
        QTest::addColumn<Animation>("animation");
        QTest::newRow("zero duration") << Animation{.durationMs = 0};
        QTest::newRow("NaN start") << Animation{.from = std::nan("")};
    }
    void inputThatCannotAnimate()
    {
        QFETCH(Animation, animation);
        KeyedAnimations animations;
        animations.add(u"k"_s, Animation{.from = 5.0, .to = 6.0, .durationMs = 10000});
        animations.add(u"k"_s, animation);
        QCOMPARE(animations.value(u"k"_s, -1.0), -1.0);
    }
};

OSTREL_TEST(TestKeyedAnimations)
#include "tst_keyedanimations.moc"
