#pragma once

#include <optional>
#include <string>

namespace ostrel {

// The user's XDG autostart entry for Ostrel: written and removed by
// `ostrel --autostart on|off`. Plain C++ and the C library only, for the
// small `ostrel` front.
namespace Autostart {

struct Outcome {
    bool ok = false;
    std::string message; // one line, for the user
};

// $XDG_CONFIG_HOME/autostart when that is an absolute path, else
// ~/.config/autostart.
std::string directory(const char *configHome, const std::string &home);

// One argument of an entry's Exec key: quoted when it holds anything but
// plain characters, and escaped for the key's string value.
std::string execArgument(const std::string &argument);

// The entry that starts `executable` at login, or nothing when the path
// cannot be written in an entry (a line break or other control character).
std::optional<std::string> entry(const std::string &executable);

// Writes the entry into `dir` in one step (never half a file), or removes it.
Outcome enable(const std::string &executable, const std::string &dir);
Outcome disable(const std::string &dir);

} // namespace Autostart
} // namespace ostrel
