#include "tests/testkit/testmain.h"
#include "ui/colors.h"
#include "ui/hoverbutton.h"

#include <QCursor>
#include <QImage>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;
using ostrel::HoverButton;
namespace colors = ostrel::colors;

class TestHoverButton : public QObject {
    Q_OBJECT

    QWidget *m_window = nullptr;
    HoverButton *m_button = nullptr;

private Q_SLOTS:
    void init()
    {
        m_window = new QWidget;
        m_window->resize(200, 100);
        m_button = new HoverButton(m_window);
        m_button->move(100, 40);
        QCursor::setPos(0, 0); // not left over the button by the last test
        m_window->show();
        QVERIFY(QTest::qWaitForWindowActive(m_window));
    }
    void cleanup() { delete m_window; }

    // The cross lights up under the pointer only while its window is active;
    // it can be clicked either way.
    void followsThePointer_data()
    {
        QTest::addColumn<bool>("active");
        QTest::addColumn<QString>("moves"); // e: onto the button, l: off it
        QTest::addColumn<bool>("lit");
        QTest::newRow("enter") << true << u"e"_s << true;
        QTest::newRow("enter, leave") << true << u"el"_s << false;
        QTest::newRow("enter, leave, enter") << true << u"ele"_s << true;
        QTest::newRow("in the background, enter") << false << u"e"_s << false;
    }
    void followsThePointer()
    {
        QFETCH(bool, active);
        QFETCH(QString, moves);
        QFETCH(bool, lit);
        QWidget other; // a window of ours in front, as a dialog would be
        if (!active) {
            other.show();
            QVERIFY(QTest::qWaitForWindowActive(&other));
        }
        for (const QChar move : moves)
            QTest::mouseMove(m_window,
                             move == u'e' ? m_button->geometry().center() : QPoint(10, 10));
        QTRY_COMPARE(m_button->tint(), lit ? colors::label() : colors::tertiary());

        QSignalSpy clicked(m_button, &QAbstractButton::clicked);
        QTest::mouseClick(m_button, Qt::LeftButton, {}, QPoint(8, 8));
        QCOMPARE(clicked.count(), 1);
    }

    // Clicking it leaves the keyboard focus where it was.
    void takesNoFocus()
    {
        auto *field = new QWidget(m_window);
        field->setFocusPolicy(Qt::StrongFocus);
        field->show();
        field->setFocus();
        QTRY_VERIFY(field->hasFocus());
        QTest::mouseClick(m_button, Qt::LeftButton, {}, QPoint(8, 8));
        QVERIFY(field->hasFocus());
    }

    void drawsTheCrossInItsTint()
    {
        HoverButton button;
        button.setTint(QColor(Qt::red));
        QImage image(button.size(), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        button.render(&image, QPoint(), QRegion(), {});
        // Where the strokes cross and along an arm; clear between the arms.
        for (const QPoint p : {QPoint(7, 7), QPoint(5, 5), QPoint(10, 5)})
            QVERIFY(image.pixelColor(p).red() > 200 && image.pixelColor(p).green() < 30);
        for (const QPoint p : {QPoint(7, 2), QPoint(2, 7), QPoint(0, 0)})
            QCOMPARE(image.pixelColor(p).alpha(), 0);
    }
};

OSTREL_TEST(TestHoverButton)
#include "tst_hoverbutton.moc"
