#pragma once

#include <QString>

#include <optional>

namespace ostrel {

// The user's XDG autostart entry for Ostrel: written and removed by
// `ostrel --autostart on|off`.
namespace Autostart {

struct Outcome {
    bool ok = false;
    QString message; // one line, for the user
};

// $XDG_CONFIG_HOME/autostart when that is an absolute path, else
// ~/.config/autostart.
QString directory(const std::optional<QString> &configHome, const QString &home);

// One argument of an entry's Exec key: quoted when it holds anything but
// plain characters, and escaped for the key's string value.
QString execArgument(const QString &argument);

// The entry that starts `executable` at login, or nothing when the path
// cannot be written in an entry (a line break or other control character).
std::optional<QByteArray> entry(const QString &executable);

// Writes the entry into `dir` in one step (never half a file), or removes it.
Outcome enable(const QString &executable, const QString &dir);
Outcome disable(const QString &dir);

} // namespace Autostart
} // namespace ostrel
