#include "tests/testkit/testmain.h"
#include "ui/keyedanimations.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <cmath>
#include <limits>
#include <vector>

using namespace Qt::StringLiterals;
using ostrel::Animation;
using ostrel::KeyedAnimations;

namespace {

// Independent of QEasingCurve: solve x(t) = x by bisection, then read y(t).
double cubicBezier(double x, QPointF c1, QPointF c2)
{
    const auto coordinate = [](double t, double p1, double p2) {
        const double u = 1.0 - t;
        return 3.0 * u * u * t * p1 + 3.0 * u * t * t * p2 + t * t * t;
    };
    double lo = 0.0;
    double hi = 1.0;
    for (int i = 0; i < 60; ++i) {
        const double mid = (lo + hi) / 2.0;
        (coordinate(mid, c1.x(), c2.x()) < x ? lo : hi) = mid;
    }
    return coordinate((lo + hi) / 2.0, c1.y(), c2.y());
}

// Every value an animation shows, frame by frame, until it ends or time runs out.
struct Recording {
    std::vector<double> values;
    bool ended = false;
    qint64 elapsedMs = 0;
};

Recording record(KeyedAnimations &animations, const QString &key, int timeoutMs)
{
    Recording rec;
    QElapsedTimer clock;
    clock.start();
    const auto connection = QObject::connect(&animations, &KeyedAnimations::changed, [&] {
        if (animations.contains(key)) {
            rec.values.push_back(animations.value(key, 0.0));
        } else if (!rec.ended) {
            rec.ended = true;
            rec.elapsedMs = clock.elapsed();
        }
    });
    rec.ended = QTest::qWaitFor([&] { return rec.ended; }, timeoutMs);
    QObject::disconnect(connection);
    return rec;
}

// Strict changes of direction, and drops of more than half the range.
int turns(const std::vector<double> &values)
{
    int count = 0;
    int direction = 0;
    for (size_t i = 1; i < values.size(); ++i) {
        const double step = values[i] - values[i - 1];
        const int now = step > 0 ? 1 : step < 0 ? -1 : 0;
        if (now != 0 && direction != 0 && now != direction)
            ++count;
        if (now != 0)
            direction = now;
    }
    return count;
}

int drops(const std::vector<double> &values, double range)
{
    int count = 0;
    for (size_t i = 1; i < values.size(); ++i) {
        if (values[i - 1] - values[i] > range / 2.0)
            ++count;
    }
    return count;
}

} // namespace

class TestKeyedAnimations : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void easingFollowsItsBezier_data();
    void easingFollowsItsBezier();
    void runsItsCyclesAndEnds_data();
    void runsItsCyclesAndEnds();
    void endlessKeepsLooping();
    void addingUnderAKeyInUseRestarts_data();
    void addingUnderAKeyInUseRestarts();
    void listenersMayChangeKeysDuringAFrame();
    void pausingHoldsEverything();
    void inputThatCannotAnimate_data();
    void inputThatCannotAnimate();
};

void TestKeyedAnimations::easingFollowsItsBezier_data()
{
    QTest::addColumn<QEasingCurve>("curve");
    QTest::addColumn<QPointF>("c1");
    QTest::addColumn<QPointF>("c2");
    QTest::newRow("ease-in-ease-out")
        << ostrel::easeInEaseOut() << QPointF(0.42, 0.0) << QPointF(0.58, 1.0);
    QTest::newRow("ease-out") << ostrel::easeOut() << QPointF(0.0, 0.0) << QPointF(0.58, 1.0);
    QTest::newRow("linear default")
        << Animation{}.easing << QPointF(1.0 / 3, 1.0 / 3) << QPointF(2.0 / 3, 2.0 / 3);
}

void TestKeyedAnimations::easingFollowsItsBezier()
{
    QFETCH(QEasingCurve, curve);
    QFETCH(QPointF, c1);
    QFETCH(QPointF, c2);
    for (int i = 0; i <= 20; ++i) {
        const double x = i / 20.0;
        const double expected = cubicBezier(x, c1, c2);
        if (std::abs(curve.valueForProgress(x) - expected) > 2e-3)
            QFAIL(qPrintable(
                u"at %1: %2, expected %3"_s.arg(x).arg(curve.valueForProgress(x)).arg(expected)));
    }
}

void TestKeyedAnimations::runsItsCyclesAndEnds_data()
{
    QTest::addColumn<int>("durationMs");
    QTest::addColumn<bool>("autoreverses");
    QTest::addColumn<int>("repeatCount");
    QTest::addColumn<int>("expectedTurns"); // changes of direction, a jump back included
    QTest::addColumn<int>("expectedDrops"); // jumps back to the start
    QTest::addColumn<double>("lastValue");
    QTest::addColumn<int>("totalMs");
    QTest::newRow("once") << 400 << false << 1 << 0 << 0 << 10.0 << 400;
    QTest::newRow("there and back") << 250 << true << 1 << 1 << 0 << 0.0 << 500;
    QTest::newRow("twice") << 250 << false << 2 << 2 << 1 << 10.0 << 500;
    QTest::newRow("there and back twice") << 250 << true << 2 << 3 << 0 << 0.0 << 1000;
}

void TestKeyedAnimations::runsItsCyclesAndEnds()
{
    QFETCH(int, durationMs);
    QFETCH(bool, autoreverses);
    QFETCH(int, repeatCount);
    QFETCH(int, expectedTurns);
    QFETCH(int, expectedDrops);
    QFETCH(double, lastValue);
    QFETCH(int, totalMs);

    KeyedAnimations animations;
    const QString key = u"k"_s;
    animations.add(key, Animation{.from = 0.0,
                                  .to = 10.0,
                                  .durationMs = durationMs,
                                  .autoreverses = autoreverses,
                                  .repeatCount = repeatCount});
    const Recording rec = record(animations, key, 20000);

    QVERIFY(rec.ended);
    QVERIFY(!animations.contains(key));
    QCOMPARE(animations.value(key, -1.0), -1.0);
    QVERIFY(rec.values.size() > 3);
    QCOMPARE(turns(rec.values), expectedTurns);
    QCOMPARE(drops(rec.values, 10.0), expectedDrops);
    QCOMPARE(rec.values.back(), lastValue);
    for (double v : rec.values)
        QVERIFY2(v >= 0.0 && v <= 10.0, qPrintable(QString::number(v)));
    // It cannot end before its time; a small allowance covers the first frame's offset.
    QVERIFY2(rec.elapsedMs >= totalMs - 40, qPrintable(QString::number(rec.elapsedMs)));
}

void TestKeyedAnimations::endlessKeepsLooping()
{
    KeyedAnimations animations;
    const QString key = u"loop"_s;
    animations.add(key, Animation{.from = 0.0, .to = 1.0, .durationMs = 100, .repeatCount = -1});
    std::vector<double> values;
    connect(&animations, &KeyedAnimations::changed, this,
            [&] { values.push_back(animations.value(key, -1.0)); });
    QTRY_VERIFY_WITH_TIMEOUT(drops(values, 1.0) >= 3, 20000);
    QVERIFY(animations.contains(key));
    QCOMPARE(animations.animation(key)->repeatCount, -1);
}

void TestKeyedAnimations::addingUnderAKeyInUseRestarts_data()
{
    QTest::addColumn<int>("repeatCount");
    QTest::newRow("finite") << 1;
    // Stopping an endless animation reports it as finished.
    QTest::newRow("endless") << -1;
}

void TestKeyedAnimations::addingUnderAKeyInUseRestarts()
{
    QFETCH(int, repeatCount);
    KeyedAnimations animations;
    const QString key = u"k"_s;
    animations.add(
        key, Animation{.from = 0.0, .to = 100.0, .durationMs = 2000, .repeatCount = repeatCount});
    QTRY_VERIFY_WITH_TIMEOUT(animations.value(key, 0.0) > 10.0, 10000);

    const Animation second{
        .from = 50.0, .to = 60.0, .durationMs = 2000, .repeatCount = repeatCount};
    QSignalSpy changed(&animations, &KeyedAnimations::changed);
    animations.add(key, second);
    QCOMPARE(animations.value(key, 0.0), 50.0);
    QCOMPARE(animations.animation(key), std::optional(second));
    QCOMPARE(animations.keys(), QStringList{key});
    QVERIFY(changed.count() >= 1);

    // The replaced animation is gone for good, and the new one runs.
    QTest::qWait(100);
    QVERIFY(animations.contains(key));
    QTRY_VERIFY(animations.value(key, 0.0) > 50.0);
    QVERIFY(animations.value(key, 0.0) <= 60.0);
}

void TestKeyedAnimations::listenersMayChangeKeysDuringAFrame()
{
    KeyedAnimations animations;
    const QString doomed = u"doomed"_s;
    const QString renewed = u"renewed"_s;
    const Animation slow{.from = 0.0, .to = 1.0, .durationMs = 1000, .repeatCount = -1};
    animations.add(doomed, slow);
    animations.add(renewed, slow);
    int renewals = 0;
    connect(&animations, &KeyedAnimations::changed, this, [&] {
        if (animations.value(doomed, 0.0) > 0.05)
            animations.remove(doomed);
        if (renewals < 5 && animations.value(renewed, 0.0) > 0.05) {
            ++renewals;
            animations.add(renewed, slow);
        }
    });
    QTRY_VERIFY_WITH_TIMEOUT(!animations.contains(doomed) && renewals == 5, 20000);
    QCOMPARE(animations.keys(), QStringList{renewed});

    animations.remove(renewed);
    QSignalSpy changed(&animations, &KeyedAnimations::changed);
    QTest::qWait(200);
    QCOMPARE(changed.count(), 0);
}

void TestKeyedAnimations::pausingHoldsEverything()
{
    KeyedAnimations animations;
    const QString early = u"early"_s;
    const QString late = u"late"_s;
    const Animation animation{.from = 0.0, .to = 1.0, .durationMs = 3000};
    animations.add(early, animation);
    QTRY_VERIFY_WITH_TIMEOUT(animations.value(early, 0.0) > 0.02, 10000);

    animations.setPaused(true);
    animations.add(late, animation);
    const double held = animations.value(early, 0.0);
    QSignalSpy changed(&animations, &KeyedAnimations::changed);
    QTest::qWait(300);
    QCOMPARE(changed.count(), 0);
    QCOMPARE(animations.value(early, 0.0), held);
    QCOMPARE(animations.value(late, -1.0), 0.0);
    QCOMPARE(animations.keys(), (QStringList{early, late}));

    animations.setPaused(false);
    QTRY_VERIFY(animations.value(early, 0.0) > held && animations.value(late, 0.0) > 0.0);
}

void TestKeyedAnimations::inputThatCannotAnimate_data()
{
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    constexpr double inf = std::numeric_limits<double>::infinity();
    QTest::addColumn<double>("from");
    QTest::addColumn<double>("to");
    QTest::addColumn<int>("durationMs");
    QTest::addColumn<int>("repeatCount");
    QTest::addColumn<bool>("runs");
    QTest::addColumn<int>("runningRepeatCount");
    QTest::newRow("zero duration") << 0.0 << 1.0 << 0 << 1 << false << 0;
    QTest::newRow("negative duration") << 0.0 << 1.0 << -5 << 1 << false << 0;
    QTest::newRow("NaN start") << nan << 1.0 << 100 << 1 << false << 0;
    QTest::newRow("infinite end") << 0.0 << inf << 100 << 1 << false << 0;
    QTest::newRow("no repeats plays once") << 0.0 << 1.0 << 100 << 0 << true << 1;
    QTest::newRow("negative repeats loop") << 0.0 << 1.0 << 100 << -7 << true << -1;
    QTest::newRow("huge repeats are cut") << 0.0 << 1.0 << 100000 << 1000000 << true << 21474;
}

void TestKeyedAnimations::inputThatCannotAnimate()
{
    QFETCH(double, from);
    QFETCH(double, to);
    QFETCH(int, durationMs);
    QFETCH(int, repeatCount);
    QFETCH(bool, runs);
    QFETCH(int, runningRepeatCount);

    KeyedAnimations animations;
    const QString key = u"k"_s;
    animations.add(key, Animation{.from = 5.0, .to = 6.0, .durationMs = 10000});
    animations.add(
        key,
        Animation{.from = from, .to = to, .durationMs = durationMs, .repeatCount = repeatCount});
    QCOMPARE(animations.contains(key), runs);
    if (runs) {
        QCOMPARE(animations.animation(key)->repeatCount, runningRepeatCount);
        QCOMPARE(animations.value(key, -1.0), from);
    } else {
        QCOMPARE(animations.value(key, -1.0), -1.0);
    }
}

OSTREL_TEST(TestKeyedAnimations)
#include "tst_keyedanimations.moc"
