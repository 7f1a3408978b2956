#include "tests/testkit/animationclock.h"
#include "tests/testkit/testmain.h"
#include "ui/shimmerlabel.h"

#include <QFontMetricsF>
#include <QImage>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;
using ostrel::KeyedAnimations;
using ostrel::ShimmerLabel;

class TestShimmerLabel : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The band sweeps left to right and starts over at the left edge once
    // shown: a label in a hidden panel costs no frames.
    void sweepsOnceShown()
    {
        ostrel::testing::AnimationClock clock;
        ShimmerLabel label(QString(60, u'M'), QFont());
        label.resize(300, label.sizeHint().height());
        QSignalSpy changed(&label.animations(), &KeyedAnimations::changed);
        clock.run(500);
        QCOMPARE(changed.count(), 0);

        label.show();
        int wraps = 0;
        for (int frame = 0; frame < 40; ++frame) {
            const double last = label.bandLocations()[0];
            clock.frame(100);
            const double now = label.bandLocations()[0];
            QVERIFY(now > last || last - now > 1.0);
            wraps += now < last ? 1 : 0;
        }
        QVERIFY(wraps >= 2);
    }

    // Line breaks become spaces; too long a line ends in "…"; no room, no text.
    void elides()
    {
        const std::tuple<QString, int, QString> cases[] = {
            {u"one\ntwo\tthree"_s, 2000, u"one two three"_s},
            {QString(80, u'w'), 120, u"…"_s},
            {u"text"_s, 2, QString()},
        };
        for (const auto &[text, width, shown] : cases) {
            ShimmerLabel label(text, QFont());
            label.resize(width, label.sizeHint().height());
            const QString line = label.displayText();
            const bool fits = QFontMetricsF(label.font()).horizontalAdvance(line) <= width - 2;
            QVERIFY2(shown == u"…" ? line.endsWith(u'…') && fits : line == shown, qPrintable(line));
            QImage image(label.size(), QImage::Format_ARGB32_Premultiplied);
            label.render(&image); // paints whatever the width
        }
    }
};

OSTREL_TEST(TestShimmerLabel)
#include "tst_shimmerlabel.moc"
