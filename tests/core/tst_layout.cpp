#include "palette/layout.h"
#include "palette/rows.h"
#include "tests/testkit/testmain.h"

#include <QTest>

using namespace Qt::StringLiterals;
using namespace ostrel;

class TestLayout final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void panelFrame_data()
    {
        QTest::addColumn<QRect>("available");
        QTest::addColumn<int>("rows");
        QTest::addColumn<QRect>("frame");
        // A panel along the top: the usable area starts below it.
        QTest::newRow("usable area offset")
            << QRect(1920, 28, 1440, 872) << 1 << QRect(2300, 219, 680, 114);
        // Edges round down, also on a screen above or left of the primary one.
        QTest::newRow("negative, fractional")
            << QRect(-1365, -1080, 1365, 1080) << 1 << QRect(-1023, -843, 680, 114);
    }
    void panelFrame()
    {
        QFETCH(QRect, available);
        QFETCH(int, rows);
        QFETCH(QRect, frame);
        QCOMPARE(Layout::panelFrame(available, rows), frame);
    }

    void compose_data()
    {
        auto row = [](const QString &title, std::optional<QString> id = {}) {
            return Result{title, {}, false, false, id};
        };
        QTest::addColumn<Results>("tasks");
        QTest::addColumn<Results>("answers");
        QTest::addColumn<Results>("shown");
        QTest::newRow("nothing: the idle row") << Results{} << Results{} << idleRows();
        // Answers standing for a task reach the screen through the task list;
        // an empty id is an id all the same.
        QTest::newRow("only task answers")
            << Results{} << Results{row(u"A"_s, u"t1"_s), row(u"B"_s, u""_s)} << idleRows();
        QTest::newRow("tasks first")
            << Results{row(u"T1"_s, u"1"_s), row(u"T2"_s)}
            << Results{row(u"A1"_s), row(u"A2"_s, u"2"_s), row(u"A3"_s)}
            << Results{row(u"T1"_s, u"1"_s), row(u"T2"_s), row(u"A1"_s), row(u"A3"_s)};
    }
    void compose()
    {
        QFETCH(Results, tasks);
        QFETCH(Results, answers);
        QFETCH(Results, shown);
        QCOMPARE(composeRows(tasks, answers), shown);
    }
};

OSTREL_TEST(TestLayout)
#include "tst_layout.moc"
