#include "platform/hotkey.h"
#include "platform/wayland.h"
#include "tests/testkit/files.h"
#include "tests/testkit/testmain.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace ostrel;

namespace {

// The modifier bits Xvfb's and most desktops' default keymaps use.
const ModifierBits usual{.alt = 1 << 3, .super = 1 << 6, .numLock = 1 << 4};
constexpr std::uint16_t xShift = 1, xLock = 2;
const std::uint16_t xAlt = usual.alt, xSuper = usual.super, xNum = usual.numLock;

} // namespace

class TestHotKey final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { qunsetenv(hotKeyVariable); }

    // From the variable and the X modifier state of a Space press to the logged
    // line: the name, then the line.
    void spacePress()
    {
        const std::tuple<QByteArray, int, QString> cases[] = {
            {"option-space", xAlt | xLock | xNum,
             u"option-space space keydown flags=2686976 match=true"_s},
            {"option-space", xAlt | xShift,
             u"option-space space keydown flags=655360 match=false"_s},
            {"command-space", xSuper, u"command-space space keydown flags=1048576 match=true"_s},
            {"shift-space", xShift | xLock, u"shift-space space keydown flags=196608 match=true"_s},
            // Wrong case means Alt, named as set.
            {"Command-space", xAlt, u"Command-space space keydown flags=524288 match=true"_s},
            // Typing in other applications leaves no trace.
            {"option-space", xLock | xNum, QString()},
        };
        for (const auto &[variable, state, line] : cases) {
            qputenv(hotKeyVariable, variable);
            const std::uint32_t flags = flagsForXState(std::uint16_t(state), usual);
            const bool match = spaceMatches(flags, wantedModifier());
            QCOMPARE(spaceWorthLogging(flags, match)
                         ? hotKeyName() + u' ' + spaceKeydownLine(flags, match)
                         : QString(),
                     line);
        }
    }

    // Key events inside the palette carry Qt's modifiers.
    void qtModifiers()
    {
        qputenv(hotKeyVariable, "control-space");
        QVERIFY(spaceMatches(flagsForQt(Qt::ControlModifier), wantedModifier()));
        qputenv(hotKeyVariable, "shift-space");
        QVERIFY(spaceMatches(flagsForQt(Qt::ShiftModifier | Qt::KeypadModifier), wantedModifier()));
        qunsetenv(hotKeyVariable);
        QVERIFY(spaceMatches(flagsForQt(Qt::AltModifier), wantedModifier()));
        QVERIFY(!spaceMatches(flagsForQt(Qt::AltModifier | Qt::MetaModifier), wantedModifier()));
    }

    // Qt's Wayland plugin found, or its absence told instead of Qt aborting.
    void waylandPlugin()
    {
        // Files in the second of two plugin folders, and whether the plugin is found there.
        const std::pair<QStringList, bool> cases[] = {
            {{}, false},
            {{u"platforms/libqxcb.so"_s}, false},
            {{u"wayland/libqwayland-generic.so"_s}, false}, // not a platform
            {{u"platforms/libqwayland-egl.so"_s}, true},
        };
        QTemporaryDir first;
        for (const auto &[files, found] : cases) {
            QTemporaryDir second;
            for (const QString &file : files) {
                QVERIFY(QDir(second.path()).mkpath(file.section(u'/', 0, 0)));
                QVERIFY(testing::writeFile(second.filePath(file), {}));
            }
            QVERIFY2(hasWaylandPlugin({first.path(), second.path()}) == found,
                     qPrintable(files.join(u' ')));
        }
        // Asking for another platform, or for a list, never stops the start.
        for (const char *platform : {"xcb", "wayland;xcb"}) {
            qputenv("QT_QPA_PLATFORM", platform);
            QVERIFY(missingPlatformPlugin().isEmpty());
        }
        // Wayland alone, where there is none, is said before Qt aborts.
        qputenv("QT_QPA_PLATFORM", "wayland");
        qputenv("WAYLAND_DISPLAY", first.filePath(u"wayland-9"_s).toLocal8Bit());
        QVERIFY(missingPlatformPlugin().contains(u"asks for Wayland, but"_s));
        qunsetenv("WAYLAND_DISPLAY");
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
};

OSTREL_TEST(TestHotKey)
#include "tst_hotkey.moc"
