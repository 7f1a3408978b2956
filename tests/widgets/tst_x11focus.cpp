#include "palette/palette.h"
#include "tests/testkit/testmain.h"

#include <QAbstractEventDispatcher>
#include <QTest>

#include <xcb/xcb.h>

namespace ostrel {

// The palette on a real X server, told by it when the keyboard arrives.
class TestX11Focus : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // When the hot key hides the palette, the end of the key's grab can
    // hand the focus back to the window before the server has seen it
    // unmapped. That report must not count for the next showing, or the
    // keys typed right after the next hot key are let go before the palette
    // holds the keyboard.
    void focusReportedAfterTheHideIsNotKept()
    {
        Palette palette;
        palette.present();
        QVERIFY(QTest::qWaitFor([&] { return palette.holdsKeyboard(); }, 5000));
        palette.dismiss();

        xcb_focus_in_event_t late{};
        late.response_type = XCB_FOCUS_IN;
        late.detail = XCB_NOTIFY_DETAIL_ANCESTOR;
        late.mode = XCB_NOTIFY_MODE_UNGRAB;
        late.event = xcb_window_t(palette.internalWinId());
        qintptr result = 0;
        QAbstractEventDispatcher::instance()->filterNativeEvent("xcb_generic_event_t", &late,
                                                                &result);
        palette.present();
        QVERIFY(!palette.holdsKeyboard());
        QVERIFY(QTest::qWaitFor([&] { return palette.holdsKeyboard(); }, 5000));
    }
};

} // namespace ostrel

OSTREL_TEST_ON_REQUEST(ostrel::TestX11Focus)
#include "tst_x11focus.moc"
