#include "app/hotkey.h"
#include "tests/testkit/testmain.h"

#include <QTest>

using namespace Qt::StringLiterals;
using namespace ostrel;

namespace {

// The modifier bits Xvfb's and most desktops' default keymaps use.
const ModifierBits usual{.alt = 1 << 3, .super = 1 << 6, .numLock = 1 << 4};
constexpr std::uint16_t xShift = 1, xLock = 2;
const std::uint16_t xAlt = usual.alt, xSuper = usual.super, xNum = usual.numLock;

void setHotKey(const QByteArray &value)
{
    if (value.isNull())
        qunsetenv(hotKeyVariable);
    else
        qputenv(hotKeyVariable, value);
}

} // namespace

class TestHotKey final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { qunsetenv(hotKeyVariable); }

    // From the variable and the X modifier state of a Space press to the
    // line the monitors log: the name table, the flags and the matcher.
    void spacePress_data()
    {
        QTest::addColumn<QByteArray>("variable");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("line");
        QTest::newRow("Alt with Caps Lock and Num Lock")
            << QByteArray() << u"option-space"_s << int(xAlt | xLock | xNum)
            << u"space keydown flags=2686976 match=true"_s;
        QTest::newRow("Alt+Shift") << QByteArray() << u"option-space"_s << int(xAlt | xShift)
                                   << u"space keydown flags=655360 match=false"_s;
        QTest::newRow("command, Super") << "command-space"_ba << u"command-space"_s << int(xSuper)
                                        << u"space keydown flags=1048576 match=true"_s;
        QTest::newRow("shift, Shift with Caps Lock")
            << "shift-space"_ba << u"shift-space"_s << int(xShift | xLock)
            << u"space keydown flags=196608 match=true"_s;
        QTest::newRow("wrong case means Alt, named as set")
            << "Command-space"_ba << u"Command-space"_s << int(xAlt)
            << u"space keydown flags=524288 match=true"_s;
    }
    void spacePress()
    {
        QFETCH(QByteArray, variable);
        QFETCH(int, state);
        setHotKey(variable);
        QTEST(hotKeyName(), "name");
        const std::uint32_t flags = flagsForXState(std::uint16_t(state), usual);
        QTEST(spaceKeydownLine(flags, spaceMatches(flags, wantedModifier())), "line");
    }

    // Key events inside the palette, with the variable read afresh each time.
    void qtModifiers()
    {
        setHotKey("control-space");
        QVERIFY(spaceMatches(flagsForQt(Qt::ControlModifier), wantedModifier()));
        setHotKey("shift-space");
        QVERIFY(!spaceMatches(flagsForQt(Qt::ControlModifier), wantedModifier()));
        QVERIFY(spaceMatches(flagsForQt(Qt::ShiftModifier | Qt::KeypadModifier), wantedModifier()));
        setHotKey({});
        QVERIFY(spaceMatches(flagsForQt(Qt::AltModifier), wantedModifier()));
        QVERIFY(!spaceMatches(flagsForQt(Qt::AltModifier | Qt::MetaModifier), wantedModifier()));
    }
};

OSTREL_TEST(TestHotKey)
#include "tst_hotkey.moc"
