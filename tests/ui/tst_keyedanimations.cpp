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

// Time moves only with the test's clock, so QCOMPARE's fuzzy equality holds.
class TestKeyedAnimations : public QObject {
    Q_OBJECT

    std::unique_ptr<ostrel::testing::AnimationClock> m_clock;

private Q_SLOTS:
    void init() { m_clock = std::make_unique<ostrel::testing::AnimationClock>(); }
    void cleanup() { m_clock.reset(); }

    // 0 -> 10, linear, there and back, twice or endless: the value at moments of the clock.
    void playsItsCyclesAndEnds()
    {
        const std::pair<int, QList<QPointF>> cases[] = {
            {2, {{200, 8}, {450, 2}, {700, 8}, {1000, std::nan("")}}},
            {-1, {{100125, 5}}},
        };
        for (const auto &[repeatCount, samples] : cases) {
            KeyedAnimations animations;
            QSignalSpy changed(&animations, &KeyedAnimations::changed);
            Animation animation{.to = 10.0, .durationMs = 250, .autoreverses = true};
            animation.repeatCount = repeatCount;
            animations.add(u"k"_s, animation);
            int now = 0;
            for (const QPointF &sample : samples) {
                changed.clear();
                m_clock->frame(int(sample.x()) - std::exchange(now, int(sample.x())));
                QVERIFY(changed.size() > 0);
                QCOMPARE(animations.value(u"k"_s, std::nan("")), sample.y());
            }
        }
    }

    void pausingHoldsEverything()
    {
        KeyedAnimations animations;
        animations.add(u"early"_s, Animation{.durationMs = 1000});
        m_clock->run(300);
        animations.setPaused(true);
        animations.add(u"late"_s, Animation{.durationMs = 1000});
        QSignalSpy changed(&animations, &KeyedAnimations::changed);
        m_clock->run(2000);
        QCOMPARE(changed.count(), 0);
        QCOMPARE(animations.value(u"late"_s, -1.0), 0.0);

        animations.setPaused(false);
        m_clock->run(200);
        QCOMPARE(animations.value(u"early"_s, -1.0), 0.5);
        QCOMPARE(animations.value(u"late"_s, -1.0), 0.2);
    }

    // Input that cannot animate ends at once instead of dividing by zero or
    // spreading NaN through the view that reads it.
    void inputThatCannotAnimate()
    {
        for (const Animation &bad : {Animation{.durationMs = 0}, Animation{.from = std::nan("")}}) {
            KeyedAnimations animations;
            animations.add(u"k"_s, Animation{.durationMs = 10000});
            animations.add(u"k"_s, bad);
            QCOMPARE(animations.value(u"k"_s, -1.0), -1.0);
        }
    }
};

OSTREL_TEST(TestKeyedAnimations)
#include "tst_keyedanimations.moc"
