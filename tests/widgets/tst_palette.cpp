#include "palette/palette.h"
#include "palette/resultlist.h"
#include "palette/rowview.h"
#include "tests/testkit/testmain.h"
#include "ui/hoverbutton.h"
#include "ui/shimmerlabel.h"

#include <QClipboard>
#include <QLineEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

Q_DECLARE_METATYPE(ostrel::Result)

using namespace Qt::StringLiterals;

namespace ostrel {

namespace {

Results rowsNamed(int count)
{
    Results rows;
    for (int i = 0; i < count; ++i)
        rows.append(Result{u"row "_s + QString::number(i), u"detail"_s});
    return rows;
}

// A field of another window that notes the keys it is given.
class KeySink final : public QLineEdit {
public:
    QList<int> keys;

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        keys.append(event->key());
        QLineEdit::keyPressEvent(event);
    }
};

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
                if (!message.startsWith(u"This plugin does not support"_s))
                    previous(type, context, message);
            });
    }
    void init() { m_palette = std::make_unique<Palette>(); }
    void cleanup() { m_palette.reset(); }

    void panelFollowsItsRows_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("height");
        QTest::addColumn<bool>("scrolls");
        QTest::newRow("none: the idle row") << 0 << 114 << false;
        QTest::newRow("three") << 3 << 182 << false;
        QTest::newRow("twenty") << 20 << 352 << true;
    }
    void panelFollowsItsRows()
    {
        QFETCH(int, rows);
        QFETCH(int, height);
        QFETCH(bool, scrolls);
        showPalette();
        m_palette->m_answerRows = rowsNamed(rows);
        m_palette->render();
        QCOMPARE(list()->rowCount(), std::max(rows, 1));
        QCOMPARE(m_palette->geometry(), QRect(620, 237, 680, height));
        QTRY_COMPARE(list()->verticalScrollBar()->isVisible(), scrolls);
        // Without a compositor the window is shaped, and the shape follows
        // the size: rounded corners, the bottom edge covered.
        const QRegion mask = m_palette->mask();
        QVERIFY(mask.contains(QPoint(340, height - 3)));
        QVERIFY(!mask.contains(QPoint(0, 0)) && !mask.contains(QPoint(679, height - 1)));
    }

    void rowsShowTheirKind_data()
    {
        QTest::addColumn<Result>("row");
        QTest::addColumn<bool>("shimmers");
        QTest::newRow("busy task") << Result{u"t"_s, {}, false, true, u"task-7"_s} << true;
        QTest::newRow("plain") << Result{u"p"_s, u"s"_s} << false;
        QTest::newRow("empty task id") << Result{u"e"_s, {}, true, false, u""_s} << false;
    }
    void rowsShowTheirKind()
    {
        QFETCH(Result, row);
        QFETCH(bool, shimmers);
        m_palette->m_tasks = {row};
        showPalette();
        QWidget *view = list()->rowView(0);
        QCOMPARE(qobject_cast<ShimmerLabel *>(view->findChild<QWidget *>(u"title"_s)) != nullptr,
                 shimmers);
        HoverButton *stop = stopButton(view);
        QCOMPARE(stop != nullptr, row.taskId.has_value());
        if (stop) {
            QSignalSpy spy(list(), &ResultList::stopRequested);
            QTest::mouseClick(stop, Qt::LeftButton);
            QCOMPARE(spy.size(), 1);
            QCOMPARE(spy.at(0).at(0).toString(), *row.taskId);
        }
    }

    void presentAndDismiss()
    {
        m_palette->m_answerRows = rowsNamed(2);
        showPalette();
        QTest::keyClicks(field(), u"12*89"_s);
        m_palette->m_pinned = true;
        m_palette->dismiss();
        QVERIFY(!m_palette->isVisible());
        QVERIFY(!m_palette->pinned() && !m_palette->everKey() && !m_palette->m_monitor);
        showPalette();
        QCOMPARE(field()->text(), QString());
        QCOMPARE(list()->rowCount(), 2);
        QVERIFY(field()->hasFocus() && m_palette->everKey() && m_palette->m_monitor);
    }

    void keysThatActAreConsumed_data()
    {
        QTest::addColumn<Qt::Key>("key");
        QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
        QTest::addColumn<bool>("staysVisible");
        QTest::newRow("return") << Qt::Key_Return << Qt::KeyboardModifiers() << true;
        QTest::newRow("keypad enter")
            << Qt::Key_Enter << Qt::KeyboardModifiers(Qt::KeypadModifier) << true;
        QTest::newRow("shift-escape")
            << Qt::Key_Escape << Qt::KeyboardModifiers(Qt::ShiftModifier) << false;
    }
    void keysThatActAreConsumed()
    {
        QFETCH(Qt::Key, key);
        QFETCH(Qt::KeyboardModifiers, modifiers);
        QFETCH(bool, staysVisible);
        showPalette();
        QTest::keyClicks(field(), u"left half"_s);
        QSignalSpy returned(field(), &QLineEdit::returnPressed);
        press(key, modifiers);
        QCOMPARE(returned.size(), 0);
        QCOMPARE(field()->text(), u"left half"_s);
        QCOMPARE(m_palette->isVisible(), staysVisible);
    }

    void arrowsClampWithoutWrapping_data()
    {
        QTest::addColumn<QString>("keys");
        QTest::addColumn<int>("selected");
        QTest::newRow("down selects the first") << u"D"_s << 0;
        QTest::newRow("up selects the first") << u"U"_s << 0;
        QTest::newRow("down stops at the last") << u"DDDDD"_s << 2;
        QTest::newRow("up stops at the first") << u"DDUUU"_s << 0;
    }
    void arrowsClampWithoutWrapping()
    {
        QFETCH(QString, keys);
        QFETCH(int, selected);
        m_palette->m_answerRows = rowsNamed(3);
        showPalette();
        field()->setText(u"ab"_s);
        field()->setCursorPosition(1);
        for (QChar k : keys)
            press(k == u'D' ? Qt::Key_Down : Qt::Key_Up);
        QCOMPARE(list()->selectedRow(), selected);
        QCOMPARE(field()->cursorPosition(), 1); // consumed: the field never saw them
    }

    void arrowsScrollTheSelectionIntoView()
    {
        m_palette->m_answerRows = rowsNamed(20);
        showPalette();
        for (int i = 0; i < 20; ++i)
            press(Qt::Key_Down);
        QCOMPARE(list()->selectedRow(), 19);
        QScrollBar *bar = list()->verticalScrollBar();
        QTRY_VERIFY(bar->value() > 0);
        QCOMPARE(bar->value(), bar->maximum());
    }

    void editingKeys()
    {
        showPalette();
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
    }

    // Once the palette is away, the keys it acts on reach the application's
    // other widgets untouched.
    void keysPassOnceItIsAway_data()
    {
        QTest::addColumn<QString>("away");
        QTest::newRow("dismissed") << u"dismiss"_s;
        QTest::newRow("escape") << u"escape"_s;
        QTest::newRow("destroyed") << u"destroy"_s;
    }
    void keysPassOnceItIsAway()
    {
        QFETCH(QString, away);
        showPalette();
        if (away == u"dismiss")
            m_palette->dismiss();
        else if (away == u"escape")
            press(Qt::Key_Escape);
        else
            m_palette.reset();
        KeySink other;
        focusElsewhere(other);
        const QList<int> keys{Qt::Key_Down, Qt::Key_Up, Qt::Key_Return, Qt::Key_Escape};
        for (int key : keys)
            QTest::keyClick(&other, Qt::Key(key));
        QCOMPARE(other.keys, keys);
        QTest::keyClicks(&other, u"abc"_s);
        QTest::keyClick(&other, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(other.selectedText(), u"abc"_s);
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
        m_palette->m_everKey = !neverKey;
        if (spokeSecondsAgo >= 0)
            m_palette->m_lastSpeech = Palette::Clock::now() - std::chrono::seconds(spokeSecondsAgo);
        QWidget other;
        focusElsewhere(other);
        // The rule is applied one event-loop turn after focus left.
        QCoreApplication::processEvents();
        QCOMPARE(m_palette->isVisible(), !dismissed);
    }

    // The corners keep their rounding however far the middle stretches.
    void roundedMaskStretches()
    {
        const NinePatch mask = Palette::roundedMask(14);
        const QImage stretched = mask.stretched(QSize(680, 352));
        QCOMPARE(stretched.size(), QSize(680, 352));
        for (const QPoint p : {QPoint(340, 176), QPoint(340, 0), QPoint(0, 176)})
            QCOMPARE(qAlpha(stretched.pixel(p)), 255);
        QCOMPARE(stretched.pixel(0, 0), mask.image.pixel(0, 0));
        QCOMPARE(stretched.pixel(679, 351), mask.image.pixel(28, 28));
        QCOMPARE(qAlpha(stretched.pixel(679, 351)), 0);
    }
};

} // namespace ostrel

OSTREL_TEST(ostrel::TestPalette)
#include "tst_palette.moc"
