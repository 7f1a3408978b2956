#pragma once

#include <QString>

namespace ostrel {

// Where this user's run-time files go, or why there is no such place.
struct RuntimeDir {
    QString path;
    QString error;
};

// $XDG_RUNTIME_DIR when it is a private directory of ours; otherwise
// /tmp/ostrel-UID, made 0700 if missing and refused unless it is a real
// directory of ours that nobody else may enter (a planted symlink or another
// user's directory is never used).
RuntimeDir runtimeDirectory();

} // namespace ostrel
