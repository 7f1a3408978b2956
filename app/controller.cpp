#include "app/controller.h"

#include "app/localmonitor.h"
#include "app/portal.h"
#include "app/warmup.h"
#include "palette/palette.h"
#include "platform/desktopnotice.h"
#include "platform/hotkey.h"
#include "platform/log.h"
#include "platform/signaltrigger.h"
#include "platform/wayland.h"
#include "platform/x11keys.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QPointer>
#include <QTimer>
#include <QWindow>

#include <csignal>

using namespace Qt::StringLiterals;

namespace ostrel {
namespace {

QString boolText(bool value) { return value ? u"true"_s : u"false"_s; }

} // namespace

Controller::Controller() = default;
Controller::~Controller() = default;

void Controller::applicationDidFinishLaunching()
{
    // There is no Dock or menu bar to leave: the palette is a tool window
    // that skips the taskbar, and the process has no other window.
    registerHotKey();
    askForAccessibility();
    installEventMonitors();
    installSignalTrigger();
    // Before "ready": a summon that came right after it would otherwise wait
    // for the warm-up to end and then build the palette, as slow as a first
    // show without it. A toggle sent meanwhile is handled right after.
    warmUpFirstShow();
    log(u"ready pid="_s + QString::number(QCoreApplication::applicationPid()));
}

Palette &Controller::palette()
{
    if (!m_palette)
        m_palette = std::make_unique<Palette>();
    return *m_palette;
}

void Controller::toggle()
{
    Palette &panel = palette();
    const bool visible = panel.isVisible();
    log(u"toggle, visible="_s + boolText(visible));
    if (visible)
        panel.dismiss();
    else
        panel.present();
}

void Controller::registerHotKey()
{
    m_hotKey = std::make_unique<X11Keys>();
    log(u"handler status="_s + QString::number(m_hotKey->status()));
    connect(m_hotKey.get(), &X11Keys::hotKeyPressed, this, &Controller::hotKeyPressed);

    const QString name = hotKeyName();
    const std::uint32_t modifier = modifierForName(name);
    const int status = m_hotKey->grabSpace(modifier);
    log(u"hotkey "_s + name + u" status="_s + QString::number(status));
    if (isWaylandSession())
        return registerPortalShortcut(name, modifier, status);
    if (m_hotKey->status() != 0)
        log(u"no X server for the hot key; "_s + bindToggleAdvice());
    else if (status != 0)
        log(u"the shortcut is already taken by another application"_s);
    if (status != X11Keys::heldByAnotherClient)
        return;
    // The key is left to the program that holds it: were the monitors to
    // act on it too, one press would do two things, and what the user typed
    // next would go to neither. The user is told where they look, once.
    m_hotKeyTaken = true;
    const QString key = hotKeyLabel(modifier);
    notifyDesktop(key + u" belongs to another program"_s,
                  u"Ostrel leaves "_s + key +
                      u" to it. To summon Ostrel, bind the command ostrel --toggle to a key of "
                      u"your desktop, or choose another combination with OSTREL_HOTKEY "
                      u"(command-space, control-space or shift-space)."_s);
}

void Controller::registerPortalShortcut(const QString &name, std::uint32_t modifier, int x11Status)
{
    if (x11Status == 0)
        log(xwaylandHotKeyNote(name));
    auto *portal = new ShortcutPortal(this);
    connect(portal, &ShortcutPortal::activated, this, [this] {
        log(u"hotkey activated through the desktop portal"_s);
        toggle();
    });
    connect(portal, &ShortcutPortal::bound, this, [](const QString &trigger) {
        log(u"hotkey bound through the desktop portal: "_s + trigger);
    });
    connect(portal, &ShortcutPortal::unavailable, this, [portal](const QString &reason) {
        log(u"hotkey: no desktop portal shortcut ("_s + reason + u"); "_s + bindToggleAdvice());
        portal->deleteLater();
    });
    portal->start(portalTrigger(modifier));
}

void Controller::askForAccessibility()
{
    log(u"accessibility trusted="_s + boolText(m_hotKey->canObserve()));
}

void Controller::installEventMonitors()
{
    m_globalMonitor = m_hotKey->startObserving();
    if (m_globalMonitor)
        connect(m_hotKey.get(), &X11Keys::spacePressed, this, &Controller::spaceKeyDown);
    m_localMonitor = std::make_unique<LocalMonitor>(
        [self = QPointer(this)](std::uint32_t flags, std::uint32_t time) {
            // A press that is the hot key is consumed even when nothing is
            // left to toggle.
            if (!self)
                return spaceMatches(flags & ModifierFlag::deviceIndependent, wantedModifier());
            return self->spaceKeyDown(flags, time);
        });
}

void Controller::installSignalTrigger()
{
    m_signalSource = std::make_unique<SignalTrigger>(SIGUSR1);
    connect(m_signalSource.get(), &SignalTrigger::triggered, this, &Controller::toggle);
}

bool Controller::spaceKeyDown(std::uint32_t flags, std::uint32_t time)
{
    if (m_lastSpaceTime == time)
        return m_lastSpaceMatch;
    flags &= ModifierFlag::deviceIndependent;
    const bool match = spaceMatches(flags, wantedModifier());
    if (spaceWorthLogging(flags, match))
        log(spaceKeydownLine(flags, match));
    m_lastSpaceTime = time;
    // A key another program holds is its alone.
    m_lastSpaceMatch = match && !m_hotKeyTaken;
    if (m_lastSpaceMatch)
        toggleForKeyAt(time);
    return m_lastSpaceMatch;
}

void Controller::toggleForKeyAt(std::uint32_t time)
{
    if (m_lastKeyToggleTime == time)
        return;
    m_lastKeyToggleTime = time;
    toggle();
}

void Controller::hotKeyPressed(std::uint32_t time)
{
    toggleForKeyAt(time);
    releaseKeyboardWhenFocused();
}

void Controller::releaseKeyboardWhenFocused()
{
    // The keys typed after the hot key wait in the X server until the
    // palette holds the keyboard, and then land in its field. Qt may call the
    // panel focused before the window manager has given it the keyboard, so
    // this waits for the server's focus-in, not for Qt's focus window.
    if (!m_palette || !m_palette->isVisible() || m_palette->holdsKeyboard()) {
        m_hotKey->releaseKeyboard();
        return;
    }
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = connect(m_palette.get(), &Palette::keyboardArrived, this, [this, connection] {
        disconnect(*connection);
        m_hotKey->releaseKeyboard();
    });
    // The adapter lets go by itself after a while; drop the watch then too.
    QTimer::singleShot(1000, this, [connection] { QObject::disconnect(*connection); });
}

} // namespace ostrel
