#include "tests/testkit/testmain.h"
#include "ui/colors.h"
#include "ui/shimmerlabel.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QImage>
#include <QTest>

#include <cmath>
#include <vector>

using namespace Qt::StringLiterals;
using ostrel::Animation;
using ostrel::KeyedAnimations;
using ostrel::ShimmerLabel;

namespace {

const QString shimmer = u"shimmer"_s;

QFont pixelFont(int pixels)
{
    QFont font;
    font.setPixelSize(pixels);
    return font;
}

QFont pointFont(double points)
{
    QFont font;
    font.setPointSizeF(points);
    return font;
}

QImage paintedBy(QWidget &widget)
{
    QImage image(widget.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    widget.render(&image, QPoint(), QRegion(), {});
    return image;
}

int columnAlpha(const QImage &image, int x)
{
    int strongest = 0;
    for (int y = 0; y < image.height(); ++y)
        strongest = std::max(strongest, image.pixelColor(x, y).alpha());
    return strongest;
}

} // namespace

class TestShimmerLabel : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void sweepsFromTheStart();
    void sweepsOneWayAndWraps();
    void textShowsOnlyThroughTheBand();
    void naturalSize_data();
    void naturalSize();
    void elides_data();
    void elides();
    void resizingKeepsTheSweep();
};

void TestShimmerLabel::sweepsFromTheStart()
{
    const ShimmerLabel label(u"Thinking"_s, QFont());
    QCOMPARE(label.text(), u"Thinking"_s);
    QCOMPARE(label.animations().keys(), QStringList{shimmer});
    QCOMPARE(label.animations().animation(shimmer),
             std::optional(Animation{.from = -0.6,
                                     .to = 1.0,
                                     .durationMs = 1400,
                                     .autoreverses = false,
                                     .repeatCount = -1,
                                     .easing = QEasingCurve(QEasingCurve::Linear)}));
    // Not shown yet, so the band waits off the left edge.
    const std::array<double, 3> band = label.bandLocations();
    QCOMPARE(band[0], -0.6);
    QVERIFY(std::abs(band[1] + 0.3) < 1e-12);
    QVERIFY(std::abs(band[2]) < 1e-12);
}

void TestShimmerLabel::sweepsOneWayAndWraps()
{
    ShimmerLabel label(u"Searching files"_s, QFont());
    label.resize(label.sizeHint());
    std::vector<std::array<double, 3>> frames;
    connect(&label.animations(), &KeyedAnimations::changed, this,
            [&] { frames.push_back(label.bandLocations()); });
    label.show();
    QVERIFY(QTest::qWaitForWindowExposed(&label));

    int wraps = 0;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            wraps = 0;
            for (size_t i = 1; i < frames.size(); ++i)
                wraps += frames[i][0] < frames[i - 1][0] ? 1 : 0;
            return wraps >= 2;
        }(),
        20000);

    for (size_t i = 0; i < frames.size(); ++i) {
        const std::array<double, 3> &band = frames[i];
        QVERIFY(band[0] >= -0.6 - 1e-9 && band[0] <= 1.0 + 1e-9);
        QVERIFY(std::abs(band[1] - band[0] - 0.3) < 1e-9);
        QVERIFY(std::abs(band[2] - band[0] - 0.6) < 1e-9);
        // Backwards only by starting over: from the right end back to the left.
        if (i > 0 && band[0] < frames[i - 1][0])
            QVERIFY2(frames[i - 1][0] - band[0] > 0.5,
                     qPrintable(u"%1 -> %2"_s.arg(frames[i - 1][0]).arg(band[0])));
    }
}

void TestShimmerLabel::textShowsOnlyThroughTheBand()
{
    ShimmerLabel label(QString(60, u'M'), pixelFont(16));
    label.resize(300, label.sizeHint().height());

    // Before it is shown the band lies wholly off the left edge: nothing shows.
    QImage image = paintedBy(label);
    for (int x = 0; x < image.width(); ++x)
        QCOMPARE(columnAlpha(image, x), 0);

    // Catch the band near the left, then hold it there by hiding the label.
    label.show();
    QVERIFY(QTest::qWaitForWindowExposed(&label));
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            const double first = label.bandLocations()[0];
            return first > 0.05 && first < 0.3;
        }(),
        20000);
    label.hide();
    const std::array<double, 3> band = label.bandLocations();
    QTest::qWait(100);
    QCOMPARE(label.bandLocations(), band);

    image = paintedBy(label);
    const double w = label.width();
    const int start = static_cast<int>(std::floor(band[0] * w));
    const int peak = static_cast<int>(std::round(band[1] * w));
    const int end = static_cast<int>(std::ceil(band[2] * w));
    for (int x = 0; x < start - 1; ++x)
        QVERIFY2(columnAlpha(image, x) == 0, qPrintable(u"column %1"_s.arg(x)));
    for (int x = end + 1; x < image.width(); ++x)
        QVERIFY2(columnAlpha(image, x) == 0, qPrintable(u"column %1"_s.arg(x)));
    int strongest = 0;
    for (int x = peak - 6; x <= peak + 6; ++x)
        strongest = std::max(strongest, columnAlpha(image, x));
    // Full label colour has alpha 0.85: 217.
    QVERIFY2(strongest > 150, qPrintable(QString::number(strongest)));
    // Fading towards the ends of the band.
    QVERIFY(columnAlpha(image, start + 2) < strongest);
    QVERIFY(columnAlpha(image, end - 2) < strongest);
}

void TestShimmerLabel::naturalSize_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QFont>("font");
    QTest::addColumn<QFont>("measuring"); // the default family at the font's size
    QFont defaultAt30 = QApplication::font();
    defaultAt30.setPixelSize(30);
    QFont defaultAt20pt = QApplication::font();
    defaultAt20pt.setPointSizeF(20);
    QFont mono = pixelFont(30);
    mono.setFamily(u"DejaVu Sans Mono"_s);
    QTest::newRow("empty") << QString() << pixelFont(30) << defaultAt30;
    QTest::newRow("pixel size") << u"Open Terminal"_s << pixelFont(30) << defaultAt30;
    QTest::newRow("point size") << u"Open Terminal"_s << pointFont(20) << defaultAt20pt;
    QTest::newRow("other family") << u"Open Terminal"_s << mono << defaultAt30;
    QTest::newRow("line breaks") << u"Open\nTerminal"_s << pixelFont(30) << defaultAt30;
}

void TestShimmerLabel::naturalSize()
{
    QFETCH(QString, text);
    QFETCH(QFont, font);
    QFETCH(QFont, measuring);
    const ShimmerLabel label(text, font);
    const QFontMetricsF metrics(measuring);
    QString line = text;
    line.replace(u'\n', u' ');
    QCOMPARE(label.sizeHint(),
             QSize(static_cast<int>(std::ceil(metrics.horizontalAdvance(line))) + 2,
                   static_cast<int>(std::ceil(metrics.height()))));
    if (text.isEmpty())
        QCOMPARE(label.sizeHint().width(), 2);
}

void TestShimmerLabel::elides_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("width");
    QTest::addColumn<bool>("elided");
    const QString sentence = u"Summarise the three newest messages from the build server"_s;
    QTest::newRow("fits") << sentence << 2000 << false;
    QTest::newRow("too long") << sentence << 120 << true;
    QTest::newRow("line breaks become spaces") << u"one\ntwo"_s << 2000 << false;
    QTest::newRow("no room") << sentence << 2 << true;
}

void TestShimmerLabel::elides()
{
    QFETCH(QString, text);
    QFETCH(int, width);
    QFETCH(bool, elided);
    ShimmerLabel label(text, pixelFont(14));
    label.resize(width, label.sizeHint().height());
    const QString shown = label.displayText();
    QVERIFY(!shown.contains(u'\n'));
    if (elided) {
        QVERIFY(shown.isEmpty() || shown.endsWith(u'…'));
        QVERIFY(QFontMetricsF(label.font()).horizontalAdvance(shown) <= width - 2);
    } else {
        QCOMPARE(shown, QString(text).replace(u'\n', u' '));
    }
    paintedBy(label);
}

void TestShimmerLabel::resizingKeepsTheSweep()
{
    ShimmerLabel label(u"Indexing"_s, QFont());
    label.show();
    QVERIFY(QTest::qWaitForWindowExposed(&label));
    for (const QSize &size : {QSize(10, 20), QSize(400, 30), QSize(0, 0), QSize(120, 24)}) {
        label.resize(size);
        QVERIFY(label.animations().contains(shimmer));
    }
    const double before = label.bandLocations()[0];
    QTRY_VERIFY(label.bandLocations()[0] != before);
}

OSTREL_TEST(TestShimmerLabel)
#include "tst_shimmerlabel.moc"
