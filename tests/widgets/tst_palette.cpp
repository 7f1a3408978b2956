#include "palette/palette.h"
#include "palette/resultlist.h"
#include "palette/rowview.h"
#include "tests/testkit/testmain.h"
#include "ui/hoverbutton.h"

#include <QClipboard>
#include <QCursor>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

namespace ostrel {
namespace {

Results rowsNamed(int count)
{
    Results rows;
    for (int i = 0; i < count; ++i)
        rows.append(Result{QString::number(i), {}});
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
    void init() { m_palette = std::make_unique<Palette>(); }
    void cleanup() { m_palette.reset(); }

    // A stop button lights up under the pointer only while the palette is in front.
    void stopButtonFollowsThePointer()
    {
        m_palette->m_tasks = {Result{u"t"_s, {}, false, true, u"7"_s}};
        QCursor::setPos(0, 0);
        showPalette();
        HoverButton *stop = stopButton(list()->rowView(0));
        const QColor resting = stop->tint();
        QTest::mouseMove(stop, QPoint(8, 8));
        QVERIFY(stop->tint() != resting);
        QTest::mouseMove(m_palette.get(), QPoint(5, 5));
        m_palette->m_pinned = true;
        QWidget other;
        focusElsewhere(other);
        QTest::mouseMove(stop, QPoint(8, 8));
        QCOMPARE(stop->tint(), resting);
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
        QTest::newRow("return") << Qt::Key_Return;
        QTest::newRow("keypad enter") << Qt::Key_Enter;
        QTest::newRow("escape hides") << Qt::Key_Escape;
    }
    void keysThatActAreConsumed()
    {
        QFETCH(Qt::Key, key);
        showPalette();
        QTest::keyClicks(field(), u"left half"_s);
        QSignalSpy returned(field(), &QLineEdit::returnPressed);
        press(key, key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
        QCOMPARE(returned.size(), 0);
        QCOMPARE(field()->text(), key == Qt::Key_Escape ? u"left half"_s : QString());
        QCOMPARE(m_palette->isVisible(), key != Qt::Key_Escape);
    }

    // The selection moves without wrapping and stays in view; the field never
    // sees the arrows.
    void arrows_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<int>("selected");
        QTest::newRow("up stops at the first") << 3 << u"DDUUU"_s << 0;
        QTest::newRow("scrolls to the last, stops there") << 20 << QString(21, u'D') << 19;
    }
    void arrows()
    {
        QFETCH(int, rows);
        QFETCH(QString, keys);
        QFETCH(int, selected);
        m_palette->m_answerRows = rowsNamed(rows);
        showPalette();
        field()->setText(u"ab"_s);
        field()->setCursorPosition(1);
        for (QChar k : keys)
            press(k == u'D' ? Qt::Key_Down : Qt::Key_Up);
        QCOMPARE(list()->selectedRow(), selected);
        QCOMPARE(field()->cursorPosition(), 1);
        const QWidget *row = list()->rowView(selected);
        QTRY_VERIFY(list()->viewport()->rect().contains(
            QRect(row->mapTo(list()->viewport(), QPoint()), row->size())));
    }

    void editingKeys()
    {
        showPalette();
        QTest::keyClicks(field(), u"how is my battery"_s);
        press(Qt::Key_A, Qt::ControlModifier);
        press(Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), u"how is my battery"_s);
        press(Qt::Key_X, Qt::ControlModifier);
        QCOMPARE(field()->text(), QString());
        press(Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(field()->text(), u"how is my battery"_s);
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
        QTest::addColumn<bool>("destroyed");
        QTest::newRow("dismissed") << false;
        QTest::newRow("destroyed") << true;
    }
    void keysPassOnceItIsAway()
    {
        QFETCH(bool, destroyed);
        showPalette();
        if (destroyed)
            m_palette.reset();
        else
            m_palette->dismiss();
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

    // Losing focus hides the palette one event-loop turn later, unless
    // something holds it.
    void focusRule_data()
    {
        QTest::addColumn<QString>("holding");
        QTest::addColumn<bool>("dismissed");
        QTest::newRow("nothing") << QString() << true;
        QTest::newRow("pinned") << u"pinned"_s << false;
        QTest::newRow("never key") << u"never key"_s << false;
        QTest::newRow("speech 2 s ago") << u"2"_s << false;
        QTest::newRow("speech 5 s ago") << u"5"_s << true;
    }
    void focusRule()
    {
        QFETCH(QString, holding);
        QFETCH(bool, dismissed);
        showPalette();
        m_palette->m_pinned = holding == u"pinned";
        m_palette->m_everKey = holding != u"never key";
        if (const int ago = holding.toInt())
            m_palette->m_lastSpeech = Palette::Clock::now() - std::chrono::seconds(ago);
        QWidget other;
        focusElsewhere(other);
        QCoreApplication::processEvents();
        QCOMPARE(m_palette->isVisible(), !dismissed);
    }
};

} // namespace ostrel

OSTREL_TEST(ostrel::TestPalette)
#include "tst_palette.moc"
