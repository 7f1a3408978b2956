#include "bridge/agentclient.h"
#include "palette/palette.h"
#include "palette/resultlist.h"
#include "palette/rowview.h"
#include "tests/testkit/testmain.h"
#include "ui/hoverbutton.h"

#include <QAccessible>
#include <QLineEdit>
#include <QTest>

using namespace Qt::StringLiterals;

namespace ostrel {
namespace {

// The rows a screen reader is told have become the selected one.
QStringList g_announced;

void listen(QAccessibleEvent *event)
{
    QAccessibleInterface *iface = event->accessibleInterface();
    if (iface && event->type() == QAccessible::Focus && iface->role() == QAccessible::ListItem &&
        iface->state().selected)
        g_announced << iface->text(QAccessible::Name);
}

constexpr auto accessible = &QAccessible::queryAccessibleInterface;

} // namespace

class TestAccessibility final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QAccessible::installUpdateHandler(listen);
        // Events reach the handler only through an active bridge: on X the
        // AT-SPI one, switched on by tests/e2e/accessibility.sh.
        QTRY_VERIFY2(QAccessible::isActive(), "no accessibility bridge: run by e2e_accessibility");
    }
    void cleanupTestCase() { QAccessible::installUpdateHandler(nullptr); }

    void rowsReadAsTheyShow()
    {
        ResultList list;
        list.reload({Result{u"Timer"_s, u"4:59 left"_s, false, true, u"task-1"_s},
                     Result{u"2,136"_s, u"12*89"_s}});
        QAccessibleInterface *busy = accessible(list.rowView(0));
        QCOMPARE(busy->text(QAccessible::Name), u"Timer"_s);
        QCOMPARE(busy->text(QAccessible::Description), u"4:59 left"_s);
        QVERIFY(busy->state().busy && !accessible(list.rowView(1))->state().busy);

        // The stop button says which task it stops, and can be pressed.
        QAccessibleInterface *stop = accessible(stopButton(list.rowView(0)));
        QCOMPARE(stop->text(QAccessible::Description), u"Timer"_s);
        QVERIFY(stop->actionInterface()->actionNames().contains(
            QAccessibleActionInterface::pressAction()));
    }

    void arrowsAnnounceTheSelectedRow()
    {
        Palette palette;
        palette.present();
        QVERIFY(QTest::qWaitForWindowActive(&palette));
        QCOMPARE(accessible(palette.findChild<QLineEdit *>())->text(QAccessible::Name),
                 u"Ask Ostrel"_s);

        palette.agent().presentAnswer(R"({"lines":[{"title":"one"},{"title":"two"}]})", u"q"_s);
        auto *list = palette.findChild<ResultList *>();
        QTRY_COMPARE(list->rowCount(), 2);
        g_announced.clear();
        // At the end of the list the selection stays, and so does the reader.
        for (int i = 0; i < 3; ++i)
            QTest::keyClick(palette.windowHandle(), Qt::Key_Down);
        QVERIFY(!accessible(list->rowView(0))->state().selected);
        // Rows rebuilt by the next answer keep the selection without a word.
        palette.agent().presentAnswer(R"({"lines":[{"title":"x"},{"title":"y"}]})", u"q"_s);
        QTRY_COMPARE(accessible(list->rowView(1))->text(QAccessible::Name), u"y"_s);
        QCOMPARE(g_announced, QStringList({u"one"_s, u"two"_s}));
        QVERIFY(accessible(list->rowView(1))->state().selected);
    }
};

} // namespace ostrel

// Needs the accessibility bus and Qt's bridge on X: e2e_accessibility runs it.
OSTREL_TEST_ON_REQUEST(ostrel::TestAccessibility)
#include "tst_accessibility.moc"
