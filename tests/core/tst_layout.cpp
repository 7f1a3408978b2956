#include "palette/layout.h"
#include "palette/rows.h"
#include "tests/testkit/testmain.h"

#include <QTest>

using namespace Qt::StringLiterals;
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

    // Answers standing for a task reach the screen through the task list; an
    // empty id is an id all the same.
    void onlyTaskAnswersLeaveTheIdleRow()
    {
        const Results answers{Result{u"A"_s, {}, false, false, u"t1"_s},
                              Result{u"B"_s, {}, false, false, u""_s}};
        QCOMPARE(composeRows({}, answers), idleRows());
    }
};

OSTREL_TEST(TestLayout)
#include "tst_layout.moc"
