#pragma once

#include <QString>
#include <Qt>

#include <cstdint>

namespace ostrel {

// Modifier flags as the key monitors report them, one bit per key, kept at
// the values the "space keydown flags=" log line has always shown.
namespace ModifierFlag {
inline constexpr std::uint32_t capsLock = 1u << 16;
inline constexpr std::uint32_t shift = 1u << 17;
inline constexpr std::uint32_t control = 1u << 18;
inline constexpr std::uint32_t option = 1u << 19;
inline constexpr std::uint32_t command = 1u << 20;
inline constexpr std::uint32_t numericPad = 1u << 21;
// Only the upper half of the flags describes modifiers.
inline constexpr std::uint32_t deviceIndependent = 0xFFFF0000u;
} // namespace ModifierFlag

inline constexpr char hotKeyVariable[] = "OSTREL_HOTKEY";
inline constexpr char defaultHotKeyName[] = "option-space";

// The hot key's name: the variable's value exactly as set, or the default
// when it is unset.
QString hotKeyName();

// The modifier a name stands for. Names are compared exactly; anything not
// known, a wrongly cased name included, means Option.
std::uint32_t modifierForName(const QString &name);

// The modifier the monitors look for; reads the environment on every call so
// that it always agrees with the name logged at registration.
std::uint32_t wantedModifier();

// Whether a Space press with these flags is the hot key: the wanted
// modifier held and none of the other three. The lock keys neither help nor
// hinder.
bool spaceMatches(std::uint32_t flags, std::uint32_t wanted);

// "space keydown flags=524288 match=true"
QString spaceKeydownLine(std::uint32_t flags, bool match);

// Whether a Space press is worth a log line: the hot key, or Space with one
// of the four modifiers held. A plain Space is someone typing, in whatever
// application, and its rhythm is nobody's business.
bool spaceWorthLogging(std::uint32_t flags, bool match);

// The combination as a desktop names it: "Alt+Space".
QString hotKeyLabel(std::uint32_t modifier);
// The same in the desktop portal's shortcut notation: "ALT+space".
QString portalTrigger(std::uint32_t modifier);

// Which X modifier bits (Mod1..Mod5 as found on the server) carry Alt, Super
// and Num Lock; Shift, Lock and Control have fixed bits.
struct ModifierBits {
    std::uint16_t alt = 0;
    std::uint16_t super = 0;
    std::uint16_t numLock = 0;
};

// Flags for an X modifier state.
std::uint32_t flagsForXState(std::uint16_t state, const ModifierBits &bits);

// The X modifier mask to grab for a flag, 0 when this server has no such
// modifier bit.
std::uint16_t xMaskForFlag(std::uint32_t flag, const ModifierBits &bits);

// Flags for the modifiers of a Qt key event. Qt does not report Caps Lock,
// which never matters to matching.
std::uint32_t flagsForQt(Qt::KeyboardModifiers modifiers);

} // namespace ostrel
