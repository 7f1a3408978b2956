#include "palette/layout.h"
#include "palette/palette.h"
#include "palette/resultlist.h"
#include "palette/rows.h"
#include "palette/rowview.h"
#include "tests/testkit/testmain.h"
#include "ui/colors.h"
#include "ui/hoverbutton.h"
#include "ui/orbview.h"
#include "ui/shimmerlabel.h"

#include <QClipboard>
#include <QLineEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace ostrel {

namespace {

Results rowsNamed(int count, const QString &prefix = u"row "_s)
{
    Results rows;
    for (int i = 0; i < count; ++i)
        rows.append(Result{prefix + QString::number(i), u"detail"_s});
    return rows;
}

} // namespace

class TestPalette final : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<Palette> m_palette;
    QLineEdit *field() const { return m_palette->m_field; }
    ResultList *list() const { return m_palette->m_table; }

    void showPalette()
    {
        m_palette->present();
        QVERIFY(QTest::qWaitForWindowActive(m_palette.get()));
    }
    void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(m_palette->windowHandle(), key, modifiers);
    }
    // Moves focus to another window of the application, as a click elsewhere would.
    void focusElsewhere(QWidget &other)
    {
        other.setGeometry(10, 10, 200, 100);
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
    }

private Q_SLOTS:
    void initTestCase()
    {
        // The offscreen platform says, every time, that it cannot shape or
        // raise windows; the tests look at the widgets' side of both.
        static const QtMessageHandler previous = qInstallMessageHandler(nullptr);
        qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext &context, const QString &message) {
                if (message.startsWith(u"This plugin does not support"_s))
                    return;
                previous(type, context, message);
            });
    }
    void init() { m_palette = std::make_unique<Palette>(); }
    void cleanup() { m_palette.reset(); }

    void constructionState()
    {
        QCOMPARE(m_palette->results(), idleRows());
        QVERIFY(m_palette->m_answerRows.isEmpty());
        QVERIFY(m_palette->m_tasks.isEmpty());
        QVERIFY(!m_palette->m_orb->listening());
        QVERIFY(!m_palette->pinned());
        QVERIFY(!m_palette->everKey());
        QVERIFY(!m_palette->m_lastSpeech);
        QVERIFY(!m_palette->m_monitor);
        QVERIFY(!m_palette->isVisible());
        QCOMPARE(m_palette->size(), QSize(680, 114));
        QCOMPARE(m_palette->windowTitle(), u"Ostrel"_s);
        const Qt::WindowFlags flags = m_palette->windowFlags();
        QVERIFY(flags.testFlag(Qt::Tool));
        QVERIFY(flags.testFlag(Qt::FramelessWindowHint));
        QVERIFY(flags.testFlag(Qt::WindowStaysOnTopHint));
        QCOMPARE(field()->placeholderText(),
                 u"Ask anything \u2014 apps, files, settings, windows, maths\u2026"_s);
        QCOMPARE(field()->font().pixelSize(), 22);
        QCOMPARE(m_palette->m_orb->toolTip(), u"Dictation - click to switch off"_s);
        QCOMPARE(list()->rowCount(), 1);
        QCOMPARE(list()->selectedRow(), -1);
    }

    void layoutOfTheParts()
    {
        showPalette();
        // Field 18 below the top from 20 in; orb 22 square, 22 from the right,
        // centred on the field; list 14 under the field down to 18 above the
        // bottom.
        QCOMPARE(field()->geometry().topLeft(), QPoint(20, 18));
        QCOMPARE(field()->geometry().right() + 1 + 14,
                 m_palette->m_orb->geometry().marginsRemoved(OrbView::overflowMargins()).left());
        const QRect orb = m_palette->m_orb->geometry().marginsRemoved(OrbView::overflowMargins());
        QCOMPARE(orb.size(), QSize(22, 22));
        QCOMPARE(680 - orb.right() - 1, 22);
        QCOMPARE(orb.center().y(), field()->geometry().center().y());
        QCOMPARE(list()->geometry(), QRect(0, 62, 680, 34));
    }

    void renderSizesThePanel_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("shown");
        QTest::addColumn<int>("height");
        QTest::addColumn<bool>("scrolls");
        QTest::newRow("none: idle row") << 0 << 1 << 114 << false;
        QTest::newRow("one") << 1 << 1 << 114 << false;
        QTest::newRow("three") << 3 << 3 << 182 << false;
        QTest::newRow("eight") << 8 << 8 << 352 << false;
        QTest::newRow("twenty") << 20 << 20 << 352 << true;
    }
    void renderSizesThePanel()
    {
        QFETCH(int, rows);
        QFETCH(int, shown);
        QFETCH(int, height);
        QFETCH(bool, scrolls);
        showPalette();
        m_palette->m_answerRows = rowsNamed(rows);
        m_palette->render();
        QCOMPARE(m_palette->results().size(), shown);
        QCOMPARE(list()->rowCount(), shown);
        QCOMPARE(m_palette->geometry(), QRect(620, 237, 680, height));
        QCOMPARE(list()->height(), height - 62 - 18);
        QTRY_COMPARE(list()->verticalScrollBar()->isVisible(), scrolls);
        const QRect frame = m_palette->geometry();
        m_palette->render();
        QCOMPARE(m_palette->geometry(), frame);
        QCOMPARE(list()->rowCount(), shown);
    }

    void renderComposesTasksThenAnswers()
    {
        m_palette->m_tasks = {Result{u"T1"_s, {}, false, true, u"1"_s}, Result{u"T2"_s, u"done"_s}};
        m_palette->m_answerRows = {Result{u"A1"_s, {}}, Result{u"A2"_s, {}, false, false, u"2"_s},
                                   Result{u"A3"_s, {}}};
        m_palette->render();
        QStringList titles;
        for (const Result &row : m_palette->results())
            titles << row.title;
        QCOMPARE(titles, (QStringList{u"T1"_s, u"T2"_s, u"A1"_s, u"A3"_s}));
        QCOMPARE(m_palette->height(), 216);
    }

    void rowViewsFollowTheirRows()
    {
        m_palette->m_tasks = {
            Result{u"busy"_s, u"s"_s, false, true, u"task-7"_s}, Result{u"dim"_s, u"s"_s, true},
            Result{u"dim busy"_s, u"s"_s, true, true}, Result{u"plain"_s, u"s"_s}};
        m_palette->render();

        struct Expect {
            bool shimmer;
            int titlePixels;
            QColor titleColor;
            QColor subtitleColor;
            bool stop;
        };
        const Expect expected[] = {
            {true, 15, {}, colors::secondary(), true},
            {false, 13, colors::secondary(), colors::tertiary(), false},
            {true, 13, {}, colors::tertiary(), false},
            {false, 15, colors::label(), colors::secondary(), false},
        };
        for (int i = 0; i < 4; ++i) {
            QWidget *row = list()->rowView(i);
            QVERIFY(row);
            QCOMPARE(row->height(), 34);
            auto *title = row->findChild<QWidget *>(u"title"_s);
            auto *subtitle = row->findChild<QLabel *>(u"subtitle"_s);
            QVERIFY(title && subtitle);
            QCOMPARE(qobject_cast<ShimmerLabel *>(title) != nullptr, expected[i].shimmer);
            QCOMPARE(title->font().pixelSize(), expected[i].titlePixels);
            if (!expected[i].shimmer)
                QCOMPARE(title->palette().color(QPalette::WindowText), expected[i].titleColor);
            QCOMPARE(subtitle->font().pixelSize(), 12);
            QCOMPARE(subtitle->palette().color(QPalette::WindowText), expected[i].subtitleColor);
            QCOMPARE(stopButton(row) != nullptr, expected[i].stop);
        }
        HoverButton *stop = stopButton(list()->rowView(0));
        QCOMPARE(stop->identifier(), u"task-7"_s);
        QCOMPARE(stop->toolTip(), u"Stop this task"_s);
        QCOMPARE(stop->size(), QSize(16, 16));
        QCOMPARE(stop->tint(), colors::tertiary());
    }

    void stopButtonCarriesItsTask()
    {
        m_palette->m_tasks = {Result{u"one"_s, {}, false, true, u"a"_s},
                              Result{u"two"_s, {}, false, true, u""_s}};
        m_palette->render();
        showPalette();
        QSignalSpy spy(list(), &ResultList::stopRequested);
        QTest::mouseClick(stopButton(list()->rowView(1)), Qt::LeftButton);
        QTest::mouseClick(stopButton(list()->rowView(0)), Qt::LeftButton);
        QCOMPARE(spy.size(), 2);
        QCOMPARE(spy.at(0).at(0).toString(), QString());
        QCOMPARE(spy.at(1).at(0).toString(), u"a"_s);
    }

    void presentEmptiesTheFieldAndKeepsRows()
    {
        m_palette->m_answerRows = rowsNamed(2);
        showPalette();
        QTest::keyClicks(field(), u"12*89"_s);
        m_palette->dismiss();
        QCOMPARE(field()->text(), u"12*89"_s);
        showPalette();
        QCOMPARE(field()->text(), QString());
        QCOMPARE(m_palette->results(), rowsNamed(2));
        QVERIFY(field()->hasFocus());
        QVERIFY(m_palette->everKey());
        QVERIFY(m_palette->m_monitor);
    }

    void dismissClearsState()
    {
        showPalette();
        m_palette->m_pinned = true;
        m_palette->dismiss();
        QVERIFY(!m_palette->isVisible());
        QVERIFY(!m_palette->pinned());
        QVERIFY(!m_palette->everKey());
        QVERIFY(!m_palette->m_monitor);
    }

    void keysThatActAreConsumed_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<bool>("staysVisible");
        QTest::newRow("return") << int(Qt::Key_Return) << int(Qt::NoModifier) << true;
        QTest::newRow("shift-return") << int(Qt::Key_Return) << int(Qt::ShiftModifier) << true;
        QTest::newRow("keypad enter") << int(Qt::Key_Enter) << int(Qt::KeypadModifier) << true;
        QTest::newRow("escape") << int(Qt::Key_Escape) << int(Qt::NoModifier) << false;
        QTest::newRow("shift-escape") << int(Qt::Key_Escape) << int(Qt::ShiftModifier) << false;
        QTest::newRow("alt-escape") << int(Qt::Key_Escape) << int(Qt::AltModifier) << false;
    }
    void keysThatActAreConsumed()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(bool, staysVisible);
        showPalette();
        QTest::keyClicks(field(), u"left half"_s);
        QSignalSpy returned(field(), &QLineEdit::returnPressed);
        press(Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(returned.size(), 0);
        QCOMPARE(field()->text(), staysVisible ? QString() : u"left half"_s); // Return submits
        QCOMPARE(m_palette->isVisible(), staysVisible);
    }

    void arrowsClampWithoutWrapping_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<int>("selected");
        QTest::newRow("down selects the first") << 3 << u"D"_s << 0;
        QTest::newRow("up selects the first") << 3 << u"U"_s << 0;
        QTest::newRow("down twice") << 3 << u"DD"_s << 1;
        QTest::newRow("down stops at the last") << 3 << u"DDDDD"_s << 2;
        QTest::newRow("up stops at the first") << 3 << u"DDUUU"_s << 0;
        QTest::newRow("one row") << 1 << u"DDU"_s << 0;
    }
    void arrowsClampWithoutWrapping()
    {
        QFETCH(int, rows);
        QFETCH(QString, keys);
        QFETCH(int, selected);
        m_palette->m_answerRows = rowsNamed(rows);
        showPalette();
        for (QChar k : keys)
            press(k == u'D' ? Qt::Key_Down : Qt::Key_Up);
        QCOMPARE(list()->selectedRow(), selected);
        QVERIFY(m_palette->isVisible());
    }

    void arrowsScrollTheSelectionIntoView()
    {
        m_palette->m_answerRows = rowsNamed(20);
        showPalette();
        QCOMPARE(list()->verticalScrollBar()->value(), 0);
        for (int i = 0; i < 20; ++i)
            press(Qt::Key_Down);
        QCOMPARE(list()->selectedRow(), 19);
        QTRY_VERIFY(list()->verticalScrollBar()->value() > 0);
        QCOMPARE(list()->verticalScrollBar()->value(), list()->verticalScrollBar()->maximum());
    }

    void arrowsOnAnEmptyListAreConsumed()
    {
        showPalette();
        m_palette->m_results.clear();
        list()->reload({});
        QTest::keyClicks(field(), u"ab"_s);
        field()->setCursorPosition(1);
        press(Qt::Key_Down);
        press(Qt::Key_Up);
        QCOMPARE(list()->selectedRow(), -1);
        // Consumed: the field never saw them move its cursor.
        QCOMPARE(field()->cursorPosition(), 1);
    }

    void editingKeys()
    {
        showPalette();
        QGuiApplication::clipboard()->clear();
        QTest::keyClicks(field(), u"how is my battery"_s);

        press(Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(field()->selectedText(), u"how is my battery"_s);
        press(Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), u"how is my battery"_s);
        press(Qt::Key_X, Qt::ControlModifier);
        QCOMPARE(field()->text(), QString());
        press(Qt::Key_V, Qt::ControlModifier);
        press(Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(field()->text(), u"how is my batteryhow is my battery"_s);

        // Without Ctrl the letters are typed like any other.
        field()->clear();
        for (Qt::Key k : {Qt::Key_A, Qt::Key_X, Qt::Key_C, Qt::Key_V})
            press(k);
        QCOMPARE(field()->text(), u"axcv"_s);
        QVERIFY(m_palette->isVisible());
    }

    void keysPassWhenThePaletteIsGone()
    {
        showPalette();
        QLineEdit other;
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        // The monitor is still installed (the palette lost focus but was not
        // dismissed yet); once the palette is gone keys pass untouched.
        m_palette->m_pinned = true;
        m_palette.reset();
        QTest::keyClick(&other, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(&other, u"abc"_s);
        QTest::keyClick(&other, Qt::Key_Escape);
        QCOMPARE(other.text(), u"abc"_s);
    }

    void focusRule_data()
    {
        QTest::addColumn<bool>("pinned");
        QTest::addColumn<bool>("neverKey");
        QTest::addColumn<int>("spokeSecondsAgo"); // -1: never
        QTest::addColumn<bool>("dismissed");
        QTest::newRow("plain") << false << false << -1 << true;
        QTest::newRow("pinned") << true << false << -1 << false;
        QTest::newRow("never key") << false << true << -1 << false;
        QTest::newRow("speech 2 s ago") << false << false << 2 << false;
        QTest::newRow("speech 5 s ago") << false << false << 5 << true;
    }
    void focusRule()
    {
        QFETCH(bool, pinned);
        QFETCH(bool, neverKey);
        QFETCH(int, spokeSecondsAgo);
        QFETCH(bool, dismissed);
        showPalette();
        m_palette->m_pinned = pinned;
        if (neverKey)
            m_palette->m_everKey = false;
        if (spokeSecondsAgo >= 0)
            m_palette->m_lastSpeech = Palette::Clock::now() - std::chrono::seconds(spokeSecondsAgo);

        QWidget other;
        focusElsewhere(other);
        if (dismissed) {
            QTRY_VERIFY(!m_palette->isVisible());
        } else {
            // The check runs one event-loop turn after the focus left.
            QTest::qWait(100);
            QVERIFY(m_palette->isVisible());
            QVERIFY(!m_palette->isActiveWindow());
        }
    }

    void focusComingBackKeepsThePalette()
    {
        showPalette();
        m_palette->m_pinned = true;
        QWidget other;
        focusElsewhere(other);
        QTest::qWait(50);
        QVERIFY(m_palette->isVisible());
        // Clicking back into it makes it key again; losing focus once more
        // with nothing holding it hides it.
        m_palette->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_palette.get()));
        m_palette->m_pinned = false;
        other.activateWindow();
        QTRY_VERIFY(!m_palette->isVisible());
    }

    void roundedMask_data()
    {
        QTest::addColumn<int>("radius");
        QTest::addColumn<int>("side");
        QTest::newRow("panel corner") << 14 << 29;
        QTest::newRow("square") << 0 << 1;
    }
    void roundedMask()
    {
        QFETCH(int, radius);
        QFETCH(int, side);
        const NinePatch mask = Palette::roundedMask(radius);
        QCOMPARE(mask.image.size(), QSize(side, side));
        QCOMPARE(mask.capInset, radius);

        const QImage stretched = mask.stretched(QSize(680, 352));
        QCOMPARE(stretched.size(), QSize(680, 352));
        const int centre = qAlpha(stretched.pixel(340, 176));
        QCOMPARE(centre, 255);
        // The corners keep their rounding however far the middle stretches.
        QCOMPARE(qAlpha(stretched.pixel(0, 0)), radius ? 0 : 255);
        QCOMPARE(qAlpha(stretched.pixel(679, 351)), radius ? 0 : 255);
        QCOMPARE(qAlpha(stretched.pixel(340, 0)), 255);
        QCOMPARE(qAlpha(stretched.pixel(0, 176)), 255);
        if (radius) {
            QCOMPARE(stretched.pixel(0, 0), mask.image.pixel(0, 0));
            QCOMPARE(stretched.pixel(679, 351), mask.image.pixel(side - 1, side - 1));
        }
    }

    void maskedWithoutACompositor()
    {
        showPalette();
        // The offscreen platform has no compositor: the window is shaped.
        QVERIFY(!m_palette->mask().isEmpty());
        QVERIFY(!m_palette->mask().contains(QPoint(0, 0)));
        QVERIFY(m_palette->mask().contains(QPoint(340, 57)));
        m_palette->m_answerRows = rowsNamed(4);
        m_palette->render();
        QVERIFY(m_palette->mask().contains(QPoint(340, m_palette->height() - 10)));
        QVERIFY(!m_palette->mask().contains(QPoint(679, m_palette->height() - 1)));
    }
};

} // namespace ostrel

OSTREL_TEST(ostrel::TestPalette)
#include "tst_palette.moc"
