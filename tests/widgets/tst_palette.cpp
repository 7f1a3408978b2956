#include "palette/layout.h"
#include "palette/palette.h"
#include "palette/resultlist.h"
#include "palette/rowview.h"
#include "tests/testkit/testmain.h"
#include "ui/hoverbutton.h"
#include "voice/dictation.h"

#include <QClipboard>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

namespace ostrel {

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

private Q_SLOTS:
    void init() { m_palette = std::make_unique<Palette>(); }
    void cleanup() { m_palette.reset(); }

    // The selection moves without wrapping; the field's cursor stays. (Keeping
    // the selected row in view is checked with ten thousand rows.)
    void arrows()
    {
        m_palette->m_answerRows = Results(3, Result{u"row"_s, {}});
        showPalette();
        field()->setText(u"ab"_s);
        field()->setCursorPosition(1);
        for (const auto &[key, selected] : {std::pair(Qt::Key_Down, 2), std::pair(Qt::Key_Up, 0)}) {
            for (int i = 0; i < 4; ++i)
                press(key);
            QCOMPARE(list()->selectedRow(), selected);
        }
        QCOMPARE(field()->cursorPosition(), 1);
    }

    // However many rows, views exist only for those in sight and next to them.
    void tenThousandRows()
    {
        for (int i = 0; i < 10000; ++i)
            m_palette->m_tasks << Result{u"task %1"_s.arg(i), {}, false, true, u"t%1"_s.arg(i)};
        showPalette();
        const int bound = Layout::maxRows + 3;
        QVERIFY(list()->rowCount() == 10000 && list()->builtViews() <= bound);
        list()->selectRow(9999);
        const QWidget *last = list()->rowView(9999);
        QVERIFY(last && list()->builtViews() <= bound);
        QVERIFY(list()->viewport()->rect().contains(
            QRect(last->mapTo(list()->viewport(), QPoint()), last->size())));
        QCOMPARE(stopButton(const_cast<QWidget *>(last))->identifier(), u"t9999"_s);
        press(Qt::Key_Escape);
        showPalette();
        QVERIFY(list()->builtViews() <= bound);
    }

    // Escape hides and forgets the text, not the rows; Ctrl+A, C, X and V edit,
    // without Ctrl they are typed; Return and keypad Enter submit the goal,
    // which empties the field, and the field never sees them.
    void keysAtTheField()
    {
        m_palette->m_answerRows = Results(2, Result{u"row"_s, {}});
        showPalette();
        QTest::keyClicks(field(), u"12*89"_s);
        m_palette->m_pinned = true;
        press(Qt::Key_Escape);
        QVERIFY(!m_palette->isVisible() && !m_palette->pinned() && !m_palette->holdsKeyboard() &&
                !m_palette->m_monitor);
        showPalette();
        QCOMPARE(field()->text(), QString());
        QCOMPARE(list()->rowCount(), 2);
        QVERIFY(field()->hasFocus() && m_palette->holdsKeyboard() && m_palette->m_monitor);

        QTest::keyClicks(field(), u"how is my battery"_s);
        press(Qt::Key_A, Qt::ControlModifier);
        press(Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), u"how is my battery"_s);
        press(Qt::Key_X, Qt::ControlModifier);
        QCOMPARE(field()->text(), QString());
        press(Qt::Key_V, Qt::ControlModifier);
        for (Qt::Key k : {Qt::Key_A, Qt::Key_X, Qt::Key_C, Qt::Key_V})
            press(k);
        QCOMPARE(field()->text(), u"how is my batteryaxcv"_s);
        QSignalSpy returned(field(), &QLineEdit::returnPressed);
        press(Qt::Key_Return);
        QCOMPARE(field()->text(), QString());
        QTest::keyClicks(field(), u"left half"_s);
        press(Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(field()->text(), QString());
        QVERIFY(returned.isEmpty() && m_palette->isVisible());
    }

    // Losing focus hides the palette, unless something holds it: a pin, a
    // window never made key, speech 2 s ago (not 5).
    void focusRule()
    {
        const std::pair<QString, bool> cases[] = {
            {u"pinned"_s, false}, {u"never key"_s, false}, {u"2"_s, false}, {u"5"_s, true}};
        for (const auto &[holding, dismissed] : cases) {
            m_palette.reset();
            m_palette = std::make_unique<Palette>();
            showPalette();
            m_palette->m_pinned = holding == u"pinned";
            m_palette->m_everKey = holding != u"never key";
            if (const int ago = holding.toInt())
                m_palette->dictation().m_lastSpeech =
                    Dictation::Clock::now() - std::chrono::seconds(ago);
            // Another window of the application takes focus, as a click there would.
            QWidget other;
            other.setGeometry(10, 10, 200, 100);
            other.show();
            other.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&other));
            QCoreApplication::processEvents();
            QCOMPARE(m_palette->isVisible(), !dismissed);
        }
    }
};

} // namespace ostrel

OSTREL_TEST(ostrel::TestPalette)
#include "tst_palette.moc"
