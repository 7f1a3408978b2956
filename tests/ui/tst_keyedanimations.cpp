#include "tests/testkit/animationclock.h"
#include "tests/testkit/testmain.h"
#include "ui/keyedanimations.h"

#include <QSignalSpy>
#include <QTest>

#include <cmath>
#include <limits>

using namespace Qt::StringLiterals;
using ostrel::Animation;
using ostrel::KeyedAnimations;

Q_DECLARE_METATYPE(ostrel::Animation)

namespace {

// Time moves only with the test's clock, so values are exact but for
// rounding.
bool near(double value, double expected, double range)
{
    return std::abs(value - expected) <= range * 1e-9;
}

} // namespace

class TestKeyedAnimations : public QObject {
    Q_OBJECT

    std::unique_ptr<ostrel::testing::AnimationClock> m_clock;

private Q_SLOTS:
    void init() { m_clock = std::make_unique<ostrel::testing::AnimationClock>(); }
    void cleanup() { m_clock.reset(); }

    // 0 -> 10, linear: the value at moments of the clock (NaN: run out).
    void playsItsCyclesAndEnds_data()
    {
        constexpr double gone = std::numeric_limits<double>::quiet_NaN();
        QTest::addColumn<int>("durationMs");
        QTest::addColumn<bool>("autoreverses");
        QTest::addColumn<int>("repeatCount");
        QTest::addColumn<QList<QPointF>>("samples"); // (ms, value)
        QTest::newRow("once") << 400 << false << 1
                              << QList<QPointF>{{100, 2.5}, {390, 9.75}, {400, gone}};
        QTest::newRow("there and back")
            << 250 << true << 1 << QList<QPointF>{{240, 9.6}, {375, 5}, {490, 0.4}, {500, gone}};
        QTest::newRow("twice") << 250 << false << 2
                               << QList<QPointF>{{200, 8}, {300, 2}, {490, 9.6}, {500, gone}};
        QTest::newRow("endless") << 100 << false << -1
                                 << QList<QPointF>{{50, 5}, {100075, 7.5}, {1000010, 1}};
    }
    void playsItsCyclesAndEnds()
    {
        QFETCH(int, durationMs);
        QFETCH(bool, autoreverses);
        QFETCH(int, repeatCount);
        QFETCH(QList<QPointF>, samples);
        KeyedAnimations animations;
        QSignalSpy changed(&animations, &KeyedAnimations::changed);
        animations.add(u"k"_s, Animation{.from = 0.0,
                                         .to = 10.0,
                                         .durationMs = durationMs,
                                         .autoreverses = autoreverses,
                                         .repeatCount = repeatCount});
        int now = 0;
        for (const QPointF &sample : samples) {
            changed.clear();
            m_clock->frame(int(sample.x()) - now);
            now = int(sample.x());
            QVERIFY(changed.size() > 0);
            const double value = animations.value(u"k"_s, std::nan(""));
            QVERIFY2(std::isnan(sample.y()) ? std::isnan(value) : near(value, sample.y(), 10),
                     qPrintable(u"at %1 ms: %2"_s.arg(now).arg(value)));
        }
    }

    void addingUnderAKeyInUseRestarts_data()
    {
        QTest::addColumn<int>("repeatCount");
        QTest::newRow("finite") << 1;
        // Stopping an endless animation reports it as finished.
        QTest::newRow("endless") << -1;
    }
    void addingUnderAKeyInUseRestarts()
    {
        QFETCH(int, repeatCount);
        KeyedAnimations animations;
        const QString key = u"k"_s;
        animations.add(
            key,
            Animation{.from = 0.0, .to = 100.0, .durationMs = 2000, .repeatCount = repeatCount});
        m_clock->frame(1000);
        QVERIFY(near(animations.value(key, 0.0), 50, 100));

        const Animation second{.from = 50.0, .to = 60.0, .durationMs = 2000, .repeatCount = 1};
        animations.add(key, second);
        QCOMPARE(animations.value(key, 0.0), 50.0);
        QCOMPARE(animations.animation(key), std::optional(second));
        // Past the moment the first would have ended: only the second runs.
        m_clock->run(1500);
        QCOMPARE(animations.keys(), QStringList{key});
        QVERIFY(near(animations.value(key, 0.0), 57.5, 10));
    }

    void listenersMayChangeKeysDuringAFrame()
    {
        KeyedAnimations animations;
        const Animation slow{.from = 0.0, .to = 1.0, .durationMs = 1000, .repeatCount = -1};
        animations.add(u"doomed"_s, slow);
        animations.add(u"renewed"_s, slow);
        int renewals = 0;
        connect(&animations, &KeyedAnimations::changed, this, [&] {
            if (animations.value(u"doomed"_s, 0.0) > 0.05)
                animations.remove(u"doomed"_s);
            if (renewals < 5 && animations.value(u"renewed"_s, 0.0) > 0.05) {
                ++renewals;
                animations.add(u"renewed"_s, slow);
            }
        });
        m_clock->run(1000);
        QCOMPARE(renewals, 5);
        QCOMPARE(animations.keys(), QStringList{u"renewed"_s});

        animations.remove(u"renewed"_s);
        QSignalSpy changed(&animations, &KeyedAnimations::changed);
        m_clock->run(500);
        QCOMPARE(changed.count(), 0);
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
        QVERIFY(near(animations.value(u"early"_s, -1.0), 0.3, 1));
        QCOMPARE(animations.value(u"late"_s, -1.0), 0.0);

        animations.setPaused(false);
        m_clock->run(200);
        QVERIFY(near(animations.value(u"early"_s, -1.0), 0.5, 1));
        QVERIFY(near(animations.value(u"late"_s, -1.0), 0.2, 1));
    }

    // Input that cannot animate ends at once; counts out of range are settled.
    void inputThatCannotAnimate_data()
    {
        constexpr double nan = std::numeric_limits<double>::quiet_NaN();
        QTest::addColumn<Animation>("animation");
        QTest::addColumn<int>("runningRepeatCount"); // 0: removed at once
        QTest::newRow("zero duration") << Animation{.durationMs = 0} << 0;
        QTest::newRow("NaN start") << Animation{.from = nan} << 0;
        QTest::newRow("infinite end") << Animation{.to = HUGE_VAL} << 0;
        QTest::newRow("no repeats plays once") << Animation{.repeatCount = 0} << 1;
        QTest::newRow("negative repeats loop") << Animation{.repeatCount = -7} << -1;
        QTest::newRow("huge repeats are cut")
            << Animation{.durationMs = 100000, .repeatCount = 1000000} << 21474;
    }
    void inputThatCannotAnimate()
    {
        QFETCH(Animation, animation);
        QFETCH(int, runningRepeatCount);
        KeyedAnimations animations;
        animations.add(u"k"_s, Animation{.from = 5.0, .to = 6.0, .durationMs = 10000});
        animations.add(u"k"_s, animation);
        QCOMPARE(animations.contains(u"k"_s), runningRepeatCount != 0);
        if (runningRepeatCount != 0)
            QCOMPARE(animations.animation(u"k"_s)->repeatCount, runningRepeatCount);
        QCOMPARE(animations.value(u"k"_s, -1.0), runningRepeatCount != 0 ? 0.0 : -1.0);
    }
};

OSTREL_TEST(TestKeyedAnimations)
#include "tst_keyedanimations.moc"
