#include "platform/hotkey.h"

#include <QtGlobal>

using namespace Qt::StringLiterals;

namespace ostrel {
namespace {

// X's fixed core modifier bits.
constexpr std::uint16_t xShift = 1 << 0;
constexpr std::uint16_t xLock = 1 << 1;
constexpr std::uint16_t xControl = 1 << 2;

constexpr std::uint32_t fourModifiers =
    ModifierFlag::command | ModifierFlag::control | ModifierFlag::option | ModifierFlag::shift;

} // namespace

QString hotKeyName()
{
    if (!qEnvironmentVariableIsSet(hotKeyVariable))
        return QString::fromLatin1(defaultHotKeyName);
    return qEnvironmentVariable(hotKeyVariable);
}

std::uint32_t modifierForName(const QString &name)
{
    if (name == "command-space"_L1)
        return ModifierFlag::command;
    if (name == "control-space"_L1)
        return ModifierFlag::control;
    if (name == "shift-space"_L1)
        return ModifierFlag::shift;
    return ModifierFlag::option;
}

std::uint32_t wantedModifier() { return modifierForName(hotKeyName()); }

bool spaceMatches(std::uint32_t flags, std::uint32_t wanted)
{
    const std::uint32_t others = fourModifiers & ~wanted;
    return (flags & wanted) == wanted && (flags & others) == 0;
}

QString spaceKeydownLine(std::uint32_t flags, bool match)
{
    return u"space keydown flags="_s + QString::number(flags) + u" match="_s +
           (match ? u"true"_s : u"false"_s);
}

bool spaceWorthLogging(std::uint32_t flags, bool match) { return match || (flags & fourModifiers); }

namespace {

// How the desktop names each combination: for people, and for the desktop
// portal's shortcut notation.
struct HotKeyNames {
    QString label;
    QString portal;
};

HotKeyNames hotKeyNames(std::uint32_t modifier)
{
    switch (modifier) {
    case ModifierFlag::command: return {u"Super+Space"_s, u"LOGO+space"_s};
    case ModifierFlag::control: return {u"Ctrl+Space"_s, u"CTRL+space"_s};
    case ModifierFlag::shift: return {u"Shift+Space"_s, u"SHIFT+space"_s};
    default: return {u"Alt+Space"_s, u"ALT+space"_s};
    }
}

} // namespace

QString hotKeyLabel(std::uint32_t modifier) { return hotKeyNames(modifier).label; }

QString portalTrigger(std::uint32_t modifier) { return hotKeyNames(modifier).portal; }

std::uint32_t flagsForXState(std::uint16_t state, const ModifierBits &bits)
{
    std::uint32_t flags = 0;
    if (state & xLock)
        flags |= ModifierFlag::capsLock;
    if (state & xShift)
        flags |= ModifierFlag::shift;
    if (state & xControl)
        flags |= ModifierFlag::control;
    if (bits.alt && (state & bits.alt))
        flags |= ModifierFlag::option;
    if (bits.super && (state & bits.super))
        flags |= ModifierFlag::command;
    if (bits.numLock && (state & bits.numLock))
        flags |= ModifierFlag::numericPad;
    return flags;
}

std::uint16_t xMaskForFlag(std::uint32_t flag, const ModifierBits &bits)
{
    switch (flag) {
    case ModifierFlag::shift: return xShift;
    case ModifierFlag::control: return xControl;
    case ModifierFlag::option: return bits.alt;
    case ModifierFlag::command: return bits.super;
    default: return 0;
    }
}

std::uint32_t flagsForQt(Qt::KeyboardModifiers modifiers)
{
    std::uint32_t flags = 0;
    if (modifiers & Qt::ShiftModifier)
        flags |= ModifierFlag::shift;
    if (modifiers & Qt::ControlModifier)
        flags |= ModifierFlag::control;
    if (modifiers & Qt::AltModifier)
        flags |= ModifierFlag::option;
    if (modifiers & Qt::MetaModifier)
        flags |= ModifierFlag::command;
    if (modifiers & Qt::KeypadModifier)
        flags |= ModifierFlag::numericPad;
    return flags;
}

} // namespace ostrel
