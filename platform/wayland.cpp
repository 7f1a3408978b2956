#include "platform/wayland.h"

#include "platform/hotkey.h"

#include <QtGlobal>

using namespace Qt::StringLiterals;

namespace ostrel {

bool isWaylandSession()
{
    return !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           qEnvironmentVariable("XDG_SESSION_TYPE").compare(u"wayland"_s, Qt::CaseInsensitive) == 0;
}

QString xwaylandHotKeyNote(const QString &hotKeyName)
{
    return u"hotkey "_s + hotKeyName +
           u" works only while an X window has focus: this is a Wayland session"_s;
}

QString portalTrigger(std::uint32_t modifierFlag)
{
    switch (modifierFlag) {
    case ModifierFlag::command: return u"LOGO+space"_s;
    case ModifierFlag::control: return u"CTRL+space"_s;
    case ModifierFlag::shift: return u"SHIFT+space"_s;
    default: return u"ALT+space"_s;
    }
}

QString bindToggleAdvice()
{
    return u"for a global hot key, bind the command \"ostrel --toggle\" to a key in the "
           u"desktop's keyboard shortcut settings"_s;
}

} // namespace ostrel
