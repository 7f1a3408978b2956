#include "tests/testkit/animationclock.h"
#include "tests/testkit/testmain.h"
#include "ui/shimmerlabel.h"

#include <QFontMetricsF>
#include <QImage>
#include <QTest>

#include <cmath>

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
    // The band sweeps left to right, starting over at the left edge.
    void sweepsOneWayAndWraps()
    {
        ostrel::testing::AnimationClock clock;
        ShimmerLabel label(u"Searching files"_s, QFont());
        label.show();
        double last = label.bandLocations()[0];
        int wraps = 0;
        for (int frame = 0; frame < 200; ++frame) {
            clock.frame(16);
            const double now = label.bandLocations()[0];
            QVERIFY2(now > last || last - now > 1.0, qPrintable(u"%1 -> %2"_s.arg(last).arg(now)));
            wraps += now < last ? 1 : 0;
            last = now;
        }
        QVERIFY(wraps >= 2);
    }

    void textShowsOnlyThroughTheBand()
    {
        ostrel::testing::AnimationClock clock;
        ShimmerLabel label(QString(60, u'M'), pixelFont(16));
        label.resize(300, label.sizeHint().height());
        // Before it is shown the band waits off the left edge: nothing shows.
        for (int alpha : columnAlphas(label))
            QCOMPARE(alpha, 0);

        label.show();
        while (label.bandLocations()[0] < 0.1)
            clock.frame(16);
        const std::array<double, 3> band = label.bandLocations();
        const QList<int> columns = columnAlphas(label);
        const int start = int(std::floor(band[0] * 300));
        const int peak = int(std::round(band[1] * 300));
        const int end = int(std::ceil(band[2] * 300));
        for (int x = 0; x < columns.size(); ++x) {
            if (x < start - 1 || x > end + 1)
                QVERIFY2(columns[x] == 0, qPrintable(u"column %1"_s.arg(x)));
        }
        const int strongest =
            *std::max_element(columns.begin() + peak - 6, columns.begin() + peak + 6);
        QVERIFY(strongest > 150);
        QVERIFY(columns[start + 2] < strongest && columns[end - 2] < strongest);
    }

    void elides_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("width");
        QTest::addColumn<QString>("shown"); // "…": elided
        const QString sentence = u"Summarise the three newest messages from the build server"_s;
        QTest::newRow("fits") << sentence << 2000 << sentence;
        QTest::newRow("too long") << sentence << 120 << u"…"_s;
        QTest::newRow("line breaks become spaces")
            << u"one\ntwo\tthree"_s << 2000 << u"one two three"_s;
        QTest::newRow("no room") << sentence << 2 << QString();
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
