#include "palette/layout.h"
#include "palette/rows.h"
#include "tests/testkit/testmain.h"

#include <QTest>

using namespace Qt::StringLiterals;
using namespace ostrel;

class TestLayout final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void height_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<double>("height");
        QTest::newRow("negative") << -5 << 114.0;
        QTest::newRow("none") << 0 << 114.0;
        QTest::newRow("one") << 1 << 114.0;
        QTest::newRow("two") << 2 << 148.0;
        QTest::newRow("three") << 3 << 182.0;
        QTest::newRow("eight") << 8 << 352.0;
        QTest::newRow("nine") << 9 << 352.0;
        QTest::newRow("forty") << 40 << 352.0;
        QTest::newRow("int max") << std::numeric_limits<int>::max() << 352.0;
        QTest::newRow("int min") << std::numeric_limits<int>::min() << 114.0;
    }
    void height()
    {
        QFETCH(int, rows);
        QFETCH(double, height);
        QCOMPARE(Layout::height(rows), height);
        const int clamped = std::clamp(rows, 1, Layout::maxRows);
        QCOMPARE(Layout::height(rows), Layout::header + 34 * clamped + 18);
    }

    void header() { QCOMPARE(Layout::header, 62.0); }

    void panelFrame_data()
    {
        QTest::addColumn<QRect>("available");
        QTest::addColumn<int>("rows");
        QTest::addColumn<QRect>("frame");
        QTest::newRow("full hd, idle") << QRect(0, 0, 1920, 1080) << 1 << QRect(620, 237, 680, 114);
        QTest::newRow("full hd, three rows")
            << QRect(0, 0, 1920, 1080) << 3 << QRect(620, 237, 680, 182);
        QTest::newRow("full hd, twenty rows")
            << QRect(0, 0, 1920, 1080) << 20 << QRect(620, 237, 680, 352);
        // A panel along the top: the usable area starts below it.
        QTest::newRow("top bar") << QRect(0, 28, 1440, 872) << 1 << QRect(380, 219, 680, 114);
        QTest::newRow("second screen right")
            << QRect(1920, 0, 2560, 1440) << 0 << QRect(2860, 316, 680, 114);
        QTest::newRow("screen above")
            << QRect(0, -1080, 1920, 1080) << 2 << QRect(620, -843, 680, 148);
        // Narrower than the panel: centred all the same, nothing clamps it.
        QTest::newRow("narrow") << QRect(0, 0, 600, 400) << 1 << QRect(-40, 88, 680, 114);
        QTest::newRow("odd width") << QRect(0, 0, 1365, 767) << 1 << QRect(342, 168, 680, 114);
    }
    void panelFrame()
    {
        QFETCH(QRect, available);
        QFETCH(int, rows);
        QFETCH(QRect, frame);
        QCOMPARE(Layout::panelFrame(available, rows), frame);
    }

    void idleRow()
    {
        const Results idle = idleRows();
        QCOMPARE(idle.size(), 1);
        QCOMPARE(idle.first().title, u"Ask anything"_s);
        const QString expected =
            u"\"what apps are open\"   \"12*89\"   \"left half\"   \"how is my battery\""_s;
        QCOMPARE(idle.first().subtitle, expected);
        QCOMPARE(idle.first().subtitle.size(), 66);
        QVERIFY(!idle.first().dim && !idle.first().busy && !idle.first().taskId);
    }

    void compose_data()
    {
        auto row = [](const QString &title, std::optional<QString> id = {}) {
            return Result{title, {}, false, false, id};
        };
        QTest::addColumn<Results>("tasks");
        QTest::addColumn<Results>("answers");
        QTest::addColumn<Results>("shown");
        QTest::newRow("nothing") << Results{} << Results{} << idleRows();
        QTest::newRow("only task answers")
            << Results{} << Results{row(u"A"_s, u"t1"_s), row(u"B"_s, u""_s)} << idleRows();
        QTest::newRow("tasks first")
            << Results{row(u"T1"_s, u"1"_s), row(u"T2"_s)}
            << Results{row(u"A1"_s), row(u"A2"_s, u"2"_s), row(u"A3"_s)}
            << Results{row(u"T1"_s, u"1"_s), row(u"T2"_s), row(u"A1"_s), row(u"A3"_s)};
        QTest::newRow("answers only")
            << Results{} << Results{row(u"A1"_s)} << Results{row(u"A1"_s)};
        QTest::newRow("empty task id is an id")
            << Results{} << Results{row(u"A1"_s, u""_s), row(u"A2"_s)} << Results{row(u"A2"_s)};
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
