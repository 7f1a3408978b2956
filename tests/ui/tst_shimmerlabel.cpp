#include "tests/testkit/animationclock.h"
#include "tests/testkit/testmain.h"
#include "ui/shimmerlabel.h"

#include <QFontMetricsF>
#include <QImage>
#include <QTest>

using namespace Qt::StringLiterals;
using ostrel::ShimmerLabel;

namespace {

QFont pixelFont(int pixels)
{
    QFont font;
    font.setPixelSize(pixels);
    return font;
}

// The strongest alpha painted in each column.
QList<int> columnAlphas(QWidget &widget)
{
    QImage image(widget.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    widget.render(&image, QPoint(), QRegion(), {});
    QList<int> columns(image.width(), 0);
    for (int x = 0; x < image.width(); ++x) {
        for (int y = 0; y < image.height(); ++y)
            columns[x] = std::max(columns[x], image.pixelColor(x, y).alpha());
    }
    return columns;
}

} // namespace

class TestShimmerLabel : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The text shows only through a band that sweeps left to right and starts
    // over at the left edge; before the label is shown nothing shows.
    void sweepsOneWayAndWraps()
    {
        ostrel::testing::AnimationClock clock;
        ShimmerLabel label(QString(60, u'M'), pixelFont(16));
        label.resize(300, label.sizeHint().height());
        QCOMPARE(columnAlphas(label), QList<int>(300, 0));
        label.show();
        int wraps = 0;
        int painted = 0;
        int nextPaint = 0;
        for (int frame = 0; frame < 200; ++frame) {
            const double last = label.bandLocations()[0];
            clock.frame(16);
            const std::array<double, 3> band = label.bandLocations();
            QVERIFY(band[0] > last || last - band[0] > 1.0);
            wraps += band[0] < last ? 1 : 0;
            if (frame < nextPaint || band[0] < 0.1 || band[2] > 0.9)
                continue;
            ++painted;
            nextPaint = frame + 10;
            const QList<int> columns = columnAlphas(label);
            const int start = int(band[0] * 300);
            const int peak = int(band[1] * 300);
            const int end = int(band[2] * 300);
            for (int x = 0; x < 300; ++x) {
                if (x < start - 1 || x > end + 1)
                    QVERIFY2(columns[x] == 0, qPrintable(u"column %1"_s.arg(x)));
            }
            const int strongest = *std::max_element(&columns[peak - 6], &columns[peak + 6]);
            QVERIFY(strongest > 150);
            QVERIFY(columns[start + 2] < strongest && columns[end - 2] < strongest);
        }
        QVERIFY(wraps >= 2 && painted >= 2);
    }

    void elides_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("width");
        QTest::addColumn<QString>("shown"); // "…": elided
        QTest::newRow("line breaks become spaces")
            << u"one\ntwo\tthree"_s << 2000 << u"one two three"_s;
        QTest::newRow("too long") << QString(80, u'w') << 120 << u"…"_s;
        QTest::newRow("no room") << u"text"_s << 2 << QString();
    }
    void elides()
    {
        QFETCH(QString, text);
        QFETCH(int, width);
        QFETCH(QString, shown);
        ShimmerLabel label(text, pixelFont(14));
        label.resize(width, label.sizeHint().height());
        const QString line = label.displayText();
        if (shown == u"…") {
            QVERIFY(line.endsWith(u'…'));
            QVERIFY(QFontMetricsF(label.font()).horizontalAdvance(line) <= width - 2);
        } else {
            QCOMPARE(line, shown);
        }
        columnAlphas(label); // paints whatever the width
    }
};

OSTREL_TEST(TestShimmerLabel)
#include "tst_shimmerlabel.moc"
