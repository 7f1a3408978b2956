#include "tests/testkit/testmain.h"
#include "ui/colors.h"
#include "ui/orbview.h"

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPalette>
#include <QSignalSpy>
#include <QTest>

#include <cmath>
#include <optional>

Q_DECLARE_METATYPE(ostrel::Animation)

using namespace Qt::StringLiterals;
using ostrel::Animation;
using ostrel::KeyedAnimations;
using ostrel::OrbView;

namespace {

const QString breathe = u"breathe"_s;
const QString pulse = u"pulse"_s;
const QColor testAccent(0xFF, 0x80, 0x00);

// Counts the presses that reach the orb's parent.
class Host final : public QWidget {
public:
    int presses = 0;

protected:
    void mousePressEvent(QMouseEvent *) override { ++presses; }
};

// Only what the widget paints itself, on a clear background.
QImage paintedBy(QWidget &widget)
{
    QImage image(widget.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    widget.render(&image, QPoint(), QRegion(), {});
    return image;
}

bool near(const QColor &actual, const QColor &expected, int tolerance = 4)
{
    return std::abs(actual.red() - expected.red()) <= tolerance &&
           std::abs(actual.green() - expected.green()) <= tolerance &&
           std::abs(actual.blue() - expected.blue()) <= tolerance &&
           std::abs(actual.alpha() - expected.alpha()) <= tolerance;
}

QByteArray describe(const QColor &c) { return c.name(QColor::HexArgb).toLatin1(); }

void setHighlight(const QColor &highlight)
{
    QPalette palette = QApplication::palette();
    palette.setColor(QPalette::Highlight, highlight);
    QApplication::setPalette(palette);
}

} // namespace

class TestOrbView : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void geometry_data();
    void geometry();
    void placedAtTheOrbsRectangle();
    void looks_data();
    void looks();
    void accentFollowsThePalette_data();
    void accentFollowsThePalette();
    void paints_data();
    void paints();
    void breathesOnlyWhileListening();
    void listeningTwiceKeepsTheBreath();
    void pulseOnlyWhileListening();
    void pulseParameters_data();
    void pulseParameters();
    void pulseDuringPulseRestartsBoth();
    void finishedPulseLeaves();
    void pulseGrowsTheDrawing();
    void clicks_data();
    void clicks();
    void hiddenHoldsStill();
};

void TestOrbView::init() { setHighlight(testAccent); }

void TestOrbView::geometry_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QRectF>("disc");
    QTest::addColumn<QRectF>("halo");
    // d = 22, so the halo reaches 3.96 past the disc on every side.
    QTest::newRow("square") << QSize(38, 38) << QRectF(8, 8, 22, 22)
                            << QRectF(4.04, 4.04, 29.92, 29.92);
    QTest::newRow("wider than high")
        << QSize(100, 38) << QRectF(39, 8, 22, 22) << QRectF(35.04, 4.04, 29.92, 29.92);
    QTest::newRow("higher than wide")
        << QSize(38, 100) << QRectF(8, 39, 22, 22) << QRectF(4.04, 35.04, 29.92, 29.92);
    // d = 50: 9 past the disc.
    QTest::newRow("large") << QSize(66, 66) << QRectF(8, 8, 50, 50) << QRectF(-1, -1, 68, 68);
    QTest::newRow("no room left") << QSize(12, 30) << QRectF(6, 15, 0, 0) << QRectF(6, 15, 0, 0);
}

void TestOrbView::geometry()
{
    QFETCH(QSize, size);
    QFETCH(QRectF, disc);
    QFETCH(QRectF, halo);
    OrbView orb;
    orb.resize(size);
    const auto same = [](const QRectF &a, const QRectF &b) {
        return std::abs(a.x() - b.x()) < 1e-9 && std::abs(a.y() - b.y()) < 1e-9 &&
               std::abs(a.width() - b.width()) < 1e-9 && std::abs(a.height() - b.height()) < 1e-9;
    };
    QVERIFY2(same(orb.discRect(), disc), qPrintable(u"%1,%2 %3x%4"_s.arg(orb.discRect().x())
                                                        .arg(orb.discRect().y())
                                                        .arg(orb.discRect().width())
                                                        .arg(orb.discRect().height())));
    QVERIFY(same(orb.haloRect(), halo));
    paintedBy(orb); // nothing to draw must not trip the painter
}

void TestOrbView::placedAtTheOrbsRectangle()
{
    QWidget panel;
    panel.resize(400, 60);
    OrbView orb(&panel);
    const QRect wanted(350, 19, 22, 22);
    orb.setGeometry(wanted.marginsAdded(OrbView::overflowMargins()));
    QCOMPARE(orb.discRect().translated(orb.pos()), QRectF(wanted));
    QCOMPARE(orb.sizeHint(), QSize(38, 38));
}

void TestOrbView::looks_data()
{
    QTest::addColumn<bool>("listening");
    QTest::addColumn<QColor>("centre");
    QTest::addColumn<QColor>("edge");
    QTest::addColumn<QColor>("halo");
    const auto white = [](double alpha) { return ostrel::colors::withAlpha(Qt::white, alpha); };
    const auto accent = [](double alpha) { return ostrel::colors::withAlpha(testAccent, alpha); };
    QTest::newRow("idle") << false << white(0.55) << white(0.12) << QColor(Qt::transparent);
    QTest::newRow("listening") << true << accent(0.95) << accent(0.35) << accent(0.16);
}

void TestOrbView::looks()
{
    QFETCH(bool, listening);
    QFETCH(QColor, centre);
    QFETCH(QColor, edge);
    QFETCH(QColor, halo);
    OrbView orb;
    orb.setListening(listening);
    QCOMPARE(orb.listening(), listening);
    QCOMPARE(orb.coreCentreColor(), centre);
    QCOMPARE(orb.coreEdgeColor(), edge);
    QCOMPARE(orb.haloColor().alpha(), halo.alpha());
    if (halo.alpha() > 0)
        QCOMPARE(orb.haloColor(), halo);
}

void TestOrbView::accentFollowsThePalette_data()
{
    QTest::addColumn<QColor>("highlight");
    QTest::addColumn<QColor>("accent");
    QTest::newRow("green") << QColor(0x30, 0xD1, 0x58) << QColor(0x30, 0xD1, 0x58);
    QTest::newRow("no highlight") << QColor() << QColor(0x0A, 0x84, 0xFF);
}

void TestOrbView::accentFollowsThePalette()
{
    QFETCH(QColor, highlight);
    QFETCH(QColor, accent);
    OrbView orb;
    orb.setListening(true);
    setHighlight(highlight);
    QCOMPARE(ostrel::colors::accent(), accent);
    QCOMPARE(orb.coreCentreColor(), ostrel::colors::withAlpha(accent, 0.95));
    QCOMPARE(orb.haloColor(), ostrel::colors::withAlpha(accent, 0.16));
}

void TestOrbView::paints_data()
{
    // A 39 px widget leaves a 23 px orb centred on a pixel centre, (19.5, 19.5).
    // Samples go right from there along that row.
    QTest::addColumn<bool>("listening");
    QTest::addColumn<QColor>("centre");
    QTest::addColumn<QColor>("rim");     // 11 px out: inside the disc, outside a breath-in
    QTest::addColumn<QColor>("halo");    // 13 px out: past the disc, inside the halo
    QTest::addColumn<QColor>("outside"); // 17 px out: past everything
    const QColor clear(0, 0, 0, 0);
    // The gradient runs to the corner of the disc's square, 23·√2/2 px out.
    const double rimAlpha = 0.55 - (0.55 - 0.12) * 11.0 / (23.0 * M_SQRT1_2);
    QTest::newRow("idle") << false << ostrel::colors::withAlpha(Qt::white, 0.55)
                          << ostrel::colors::withAlpha(Qt::white, rimAlpha) << clear << clear;
    // Not shown, so the breath waits at its smallest: 0.88 × 11.5 = 10.12 px.
    QTest::newRow("listening") << true << ostrel::colors::withAlpha(testAccent, 0.95)
                               << ostrel::colors::withAlpha(testAccent, 0.16)
                               << ostrel::colors::withAlpha(testAccent, 0.16) << clear;
}

void TestOrbView::paints()
{
    QFETCH(bool, listening);
    QFETCH(QColor, centre);
    QFETCH(QColor, rim);
    QFETCH(QColor, halo);
    QFETCH(QColor, outside);
    OrbView orb;
    orb.resize(39, 39);
    orb.setListening(listening);
    const QImage image = paintedBy(orb);
    const auto at = [&](int dx) {
        const QColor c = image.pixelColor(19 + dx, 19);
        return c.alpha() == 0 ? QColor(0, 0, 0, 0) : c;
    };
    // Low alphas lose channel precision in the premultiplied image.
    QVERIFY2(near(at(0), centre, 3), describe(at(0)));
    QVERIFY2(near(at(11), rim, 6), describe(at(11)));
    QVERIFY2(near(at(13), halo, 6), describe(at(13)));
    QVERIFY2(near(at(17), outside, 0), describe(at(17)));
    QCOMPARE(image.pixelColor(0, 0).alpha(), 0);
}

void TestOrbView::breathesOnlyWhileListening()
{
    OrbView orb;
    QVERIFY(orb.coreAnimations().keys().isEmpty());
    QVERIFY(orb.haloAnimations().keys().isEmpty());

    orb.setListening(true);
    QCOMPARE(orb.coreAnimations().animation(breathe),
             std::optional(Animation{.from = 0.88,
                                     .to = 1.0,
                                     .durationMs = 1600,
                                     .autoreverses = true,
                                     .repeatCount = -1,
                                     .easing = ostrel::easeInEaseOut()}));
    orb.setListening(false);
    QVERIFY(!orb.coreAnimations().contains(breathe));
    orb.setListening(false);
    QVERIFY(!orb.coreAnimations().contains(breathe));
}

void TestOrbView::listeningTwiceKeepsTheBreath()
{
    OrbView orb;
    orb.resize(38, 38);
    orb.show();
    QVERIFY(QTest::qWaitForWindowExposed(&orb));
    orb.setListening(true);
    QTRY_VERIFY_WITH_TIMEOUT(orb.coreAnimations().value(breathe, 0.0) > 0.9, 10000);

    const double drawn = orb.coreAnimations().value(breathe, 0.0);
    QSignalSpy changed(&orb.coreAnimations(), &KeyedAnimations::changed);
    orb.setListening(true);
    QCOMPARE(changed.count(), 0);
    QCOMPARE(orb.coreAnimations().value(breathe, 0.0), drawn);
    QTRY_VERIFY(orb.coreAnimations().value(breathe, 0.0) > drawn);
}

void TestOrbView::pulseOnlyWhileListening()
{
    OrbView orb;
    orb.pulse();
    QVERIFY(orb.coreAnimations().keys().isEmpty());
    QVERIFY(orb.haloAnimations().keys().isEmpty());

    orb.setListening(true);
    orb.pulse();
    QCOMPARE(orb.coreAnimations().keys(), (QStringList{breathe, pulse}));
    QCOMPARE(orb.haloAnimations().keys(), QStringList{pulse});
}

void TestOrbView::pulseParameters_data()
{
    QTest::addColumn<bool>("halo");
    QTest::addColumn<Animation>("expected");
    QTest::newRow("core") << false
                          << Animation{.from = 1.0,
                                       .to = 1.35,
                                       .durationMs = 160,
                                       .autoreverses = true,
                                       .repeatCount = 1,
                                       .easing = ostrel::easeOut()};
    QTest::newRow("halo") << true
                          << Animation{.from = 1.0,
                                       .to = 1.25,
                                       .durationMs = 240,
                                       .autoreverses = true,
                                       .repeatCount = 1,
                                       .easing = QEasingCurve(QEasingCurve::Linear)};
}

void TestOrbView::pulseParameters()
{
    QFETCH(bool, halo);
    QFETCH(Animation, expected);
    OrbView orb;
    orb.setListening(true);
    orb.pulse();
    const KeyedAnimations &layer = halo ? orb.haloAnimations() : orb.coreAnimations();
    QCOMPARE(layer.animation(pulse), std::optional(expected));
}

void TestOrbView::pulseDuringPulseRestartsBoth()
{
    OrbView orb;
    orb.resize(38, 38);
    orb.show();
    QVERIFY(QTest::qWaitForWindowExposed(&orb));
    orb.setListening(true);
    orb.pulse();

    // Pulse again from inside a frame, once both have grown, and look at once.
    std::optional<std::pair<double, double>> afterSecond;
    connect(&orb.coreAnimations(), &KeyedAnimations::changed, this, [&] {
        if (afterSecond || orb.coreAnimations().value(pulse, 1.0) < 1.05 ||
            orb.haloAnimations().value(pulse, 1.0) < 1.03)
            return;
        orb.pulse();
        afterSecond.emplace(orb.coreAnimations().value(pulse, 0.0),
                            orb.haloAnimations().value(pulse, 0.0));
    });
    QTRY_VERIFY_WITH_TIMEOUT(afterSecond.has_value(), 10000);
    QCOMPARE(afterSecond->first, 1.0);
    QCOMPARE(afterSecond->second, 1.0);
    QVERIFY(orb.coreAnimations().contains(breathe));
}

void TestOrbView::finishedPulseLeaves()
{
    OrbView orb;
    orb.resize(38, 38);
    orb.show();
    QVERIFY(QTest::qWaitForWindowExposed(&orb));
    orb.setListening(true);
    orb.pulse();
    QTRY_VERIFY_WITH_TIMEOUT(
        !orb.coreAnimations().contains(pulse) && !orb.haloAnimations().contains(pulse), 10000);
    QVERIFY(orb.coreAnimations().contains(breathe));
    QVERIFY(orb.haloAnimations().keys().isEmpty());
}

void TestOrbView::pulseGrowsTheDrawing()
{
    OrbView orb;
    orb.resize(39, 39); // the orb's centre on a pixel centre, as in paints()
    orb.show();
    QVERIFY(QTest::qWaitForWindowExposed(&orb));
    orb.setListening(true);
    orb.pulse();

    // Caught in a frame where both have grown by a tenth or more.
    QImage grown;
    connect(&orb.haloAnimations(), &KeyedAnimations::changed, this, [&] {
        if (grown.isNull() && orb.coreAnimations().value(pulse, 1.0) >= 1.1 &&
            orb.haloAnimations().value(pulse, 1.0) >= 1.1)
            grown = paintedBy(orb);
    });
    QTRY_VERIFY_WITH_TIMEOUT(!grown.isNull(), 10000);

    // 12 px out lies past the resting disc (11.5) but inside a 1.1× core; 16 px out
    // past the resting halo (15.64) but inside a 1.1× halo.
    const QColor core = grown.pixelColor(19 + 12, 19);
    const QColor halo = grown.pixelColor(19 + 16, 19);
    QVERIFY2(core.alpha() > 60, describe(core));
    QVERIFY2(halo.alpha() >= 33, describe(halo));
}

void TestOrbView::clicks_data()
{
    QTest::addColumn<bool>("withCallback");
    QTest::addColumn<QPoint>("at");
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<int>("calls");
    QTest::newRow("on the orb") << true << QPoint(19, 19) << Qt::LeftButton << 1;
    QTest::newRow("orb's corner") << true << QPoint(8, 29) << Qt::LeftButton << 1;
    QTest::newRow("no callback") << false << QPoint(19, 19) << Qt::LeftButton << 0;
    QTest::newRow("in the overflow") << true << QPoint(3, 19) << Qt::LeftButton << 0;
    QTest::newRow("right button") << true << QPoint(19, 19) << Qt::RightButton << 0;
}

void TestOrbView::clicks()
{
    QFETCH(bool, withCallback);
    QFETCH(QPoint, at);
    QFETCH(Qt::MouseButton, button);
    QFETCH(int, calls);

    Host host;
    host.resize(200, 100);
    auto *orb = new OrbView(&host);
    orb->setGeometry(QRect(100, 30, 22, 22).marginsAdded(OrbView::overflowMargins()));
    int called = 0;
    if (withCallback)
        orb->setOnClick([&] { ++called; });
    host.show();
    QVERIFY(QTest::qWaitForWindowExposed(&host));

    QTest::mouseClick(orb, button, {}, at);
    QCOMPARE(called, calls);
    QCOMPARE(host.presses, 0);
}

void TestOrbView::hiddenHoldsStill()
{
    QWidget panel;
    panel.resize(100, 60);
    auto *orb = new OrbView(&panel);
    orb->setGeometry(QRect(50, 19, 22, 22).marginsAdded(OrbView::overflowMargins()));
    orb->setListening(true);
    const KeyedAnimations &core = orb->coreAnimations();

    // Never shown yet: waiting at the start.
    QTest::qWait(200);
    QCOMPARE(core.value(breathe, 0.0), 0.88);

    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    QTRY_VERIFY_WITH_TIMEOUT(core.value(breathe, 0.0) > 0.9, 10000);

    panel.hide();
    const double held = core.value(breathe, 0.0);
    QSignalSpy changed(&core, &KeyedAnimations::changed);
    QTest::qWait(300);
    QCOMPARE(changed.count(), 0);
    QCOMPARE(core.value(breathe, 0.0), held);
    QVERIFY(core.contains(breathe));

    panel.show();
    QTRY_VERIFY(core.value(breathe, 0.0) != held);
}

OSTREL_TEST(TestOrbView)
#include "tst_orbview.moc"
