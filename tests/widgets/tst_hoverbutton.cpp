#include "tests/testkit/testmain.h"
#include "ui/colors.h"
#include "ui/hoverbutton.h"

#include <QEnterEvent>
#include <QGuiApplication>
#include <QImage>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;
using ostrel::HoverButton;
namespace colors = ostrel::colors;

namespace {

void enter(QWidget *widget)
{
    const QPointF inside(8, 8);
    QEnterEvent event(inside, inside, widget->mapToGlobal(inside));
    QCoreApplication::sendEvent(widget, &event);
}

void leave(QWidget *widget)
{
    QEvent event(QEvent::Leave);
    QCoreApplication::sendEvent(widget, &event);
}

// A shown, focused window makes the application active on the offscreen platform.
struct Stage {
    QWidget window;
    HoverButton *button = new HoverButton(&window);

    Stage()
    {
        window.resize(200, 100);
        button->move(100, 40);
    }

    bool show()
    {
        window.show();
        return QTest::qWaitForWindowActive(&window) &&
               QGuiApplication::applicationState() == Qt::ApplicationActive;
    }
};

QImage paintedBy(QWidget &widget)
{
    QImage image(widget.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    widget.render(&image, QPoint(), QRegion(), {});
    return image;
}

} // namespace

class TestHoverButton : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // First: the application turns active once a window is shown, and stays so.
    void inactiveApplicationIgnoresHover();
    void hoverSetsTheTint_data();
    void hoverSetsTheTint();
    void pointerMovesLightItUp();
    void clickEmitsClicked_data();
    void clickEmitsClicked();
    void drawsTheCrossInItsTint_data();
    void drawsTheCrossInItsTint();
    void staysSmallAndUnfocused();
};

void TestHoverButton::inactiveApplicationIgnoresHover()
{
    if (QGuiApplication::applicationState() == Qt::ApplicationActive)
        QSKIP("needs a run in which no window has been activated yet; run the whole test");

    Stage stage;
    HoverButton *button = stage.button;
    QSignalSpy clicked(button, &QAbstractButton::clicked);
    enter(button);
    QCOMPARE(button->tint(), colors::tertiary());
    button->setTint(colors::label());
    leave(button);
    QCOMPARE(button->tint(), colors::label());
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(clicked.count(), 1);

    // The same button follows the pointer once the application is active.
    QVERIFY(stage.show());
    leave(button);
    QCOMPARE(button->tint(), colors::tertiary());
    enter(button);
    QCOMPARE(button->tint(), colors::label());
}

void TestHoverButton::hoverSetsTheTint_data()
{
    QTest::addColumn<QString>("moves"); // e = enter, l = leave
    QTest::addColumn<QColor>("tint");
    QTest::newRow("untouched") << QString() << colors::tertiary();
    QTest::newRow("enter") << u"e"_s << colors::label();
    QTest::newRow("enter, leave") << u"el"_s << colors::tertiary();
    QTest::newRow("enter twice") << u"ee"_s << colors::label();
    QTest::newRow("leave alone") << u"l"_s << colors::tertiary();
    QTest::newRow("enter, leave, enter") << u"ele"_s << colors::label();
}

void TestHoverButton::hoverSetsTheTint()
{
    QFETCH(QString, moves);
    QFETCH(QColor, tint);
    Stage stage;
    QVERIFY(stage.show());
    for (const QChar move : moves)
        move == u'e' ? enter(stage.button) : leave(stage.button);
    QCOMPARE(stage.button->tint(), tint);
}

void TestHoverButton::pointerMovesLightItUp()
{
    Stage stage;
    QVERIFY(stage.show());
    QTest::mouseMove(&stage.window, QPoint(10, 10));
    QTRY_COMPARE(stage.button->tint(), colors::tertiary());
    QTest::mouseMove(&stage.window, stage.button->geometry().center());
    QTRY_COMPARE(stage.button->tint(), colors::label());
    QTest::mouseMove(&stage.window, QPoint(10, 10));
    QTRY_COMPARE(stage.button->tint(), colors::tertiary());
}

void TestHoverButton::clickEmitsClicked_data()
{
    QTest::addColumn<bool>("hovered");
    QTest::newRow("hovered") << true;
    QTest::newRow("not hovered") << false;
}

void TestHoverButton::clickEmitsClicked()
{
    QFETCH(bool, hovered);
    Stage stage;
    QVERIFY(stage.show());
    stage.button->setIdentifier(u"task-7"_s);
    if (hovered)
        enter(stage.button);
    QSignalSpy clicked(stage.button, &QAbstractButton::clicked);
    QTest::mouseClick(stage.button, Qt::LeftButton, {}, QPoint(8, 8));
    QCOMPARE(clicked.count(), 1);
    QCOMPARE(stage.button->identifier(), u"task-7"_s);
}

void TestHoverButton::drawsTheCrossInItsTint_data()
{
    QTest::addColumn<QColor>("tint");
    QTest::newRow("resting") << colors::tertiary();
    QTest::newRow("hovered") << colors::label();
    QTest::newRow("opaque red") << QColor(Qt::red);
}

void TestHoverButton::drawsTheCrossInItsTint()
{
    QFETCH(QColor, tint);
    HoverButton button;
    button.setTint(tint);
    const QImage image = paintedBy(button);

    // Where the strokes cross and along an arm: the tint, blended once.
    for (const QPoint p : {QPoint(7, 7), QPoint(5, 5), QPoint(10, 5)}) {
        const QColor c = image.pixelColor(p);
        QVERIFY2(std::abs(c.alpha() - tint.alpha()) <= 12 && std::abs(c.red() - tint.red()) <= 3 &&
                     std::abs(c.green() - tint.green()) <= 3,
                 qPrintable(u"(%1,%2) %3"_s.arg(p.x()).arg(p.y()).arg(c.name(QColor::HexArgb))));
    }
    // Clear between the arms and around the 10 px cross.
    for (const QPoint p :
         {QPoint(7, 2), QPoint(2, 7), QPoint(0, 0), QPoint(15, 15), QPoint(1, 1), QPoint(14, 1)})
        QVERIFY2(image.pixelColor(p).alpha() == 0, qPrintable(u"(%1,%2)"_s.arg(p.x()).arg(p.y())));
}

void TestHoverButton::staysSmallAndUnfocused()
{
    Stage stage;
    QVERIFY(stage.show());
    auto *field = new QWidget(&stage.window);
    field->setFocusPolicy(Qt::StrongFocus);
    field->setGeometry(0, 0, 80, 30);
    field->show();
    field->setFocus();
    QTRY_VERIFY(field->hasFocus());

    QTest::mouseClick(stage.button, Qt::LeftButton, {}, QPoint(8, 8));
    QVERIFY(field->hasFocus());
    QCOMPARE(stage.button->size(), QSize(16, 16));

    // An invalid colour leaves the tint as it was.
    stage.button->setTint(QColor());
    QVERIFY(stage.button->tint().isValid());
}

OSTREL_TEST(TestHoverButton)
#include "tst_hoverbutton.moc"
