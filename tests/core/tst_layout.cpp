#include "palette/layout.h"
#include "tests/testkit/testmain.h"

#include <QTest>

using namespace ostrel;

class TestLayout final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Edges round down, also on a screen above or left of the primary one.
    void panelFrameOnANegativeScreen()
    {
        QCOMPARE(Layout::panelFrame(QRect(-1365, -1080, 1365, 1080), 1),
                 QRect(-1023, -843, 680, 114));
    }
};

OSTREL_TEST(TestLayout)
#include "tst_layout.moc"
