#pragma once

#include <string>

// Plain C++ and the C library only: the small `ostrel` command finds the
// running palette with this before any toolkit is loaded.
namespace ostrel {

// Where this user's run-time files go, or why there is no such place.
struct RuntimeDir {
    std::string path;
    std::string error;
};

// The first private directory of ours (a real directory, not a symlink, that
// nobody else may enter) among: `xdgRuntimeDir` when it is an absolute path,
// then `userRuntimeDir` (a session's own /run/user/UID, so that a palette
// started without the variable finds the one started with it), then
// /tmp/ostrel-UID, made 0700 if missing. Another user's directory or a
// planted symlink is never used.
RuntimeDir runtimeDirectory(const char *xdgRuntimeDir, const std::string &userRuntimeDir);
// The same from $XDG_RUNTIME_DIR and /run/user/UID.
RuntimeDir runtimeDirectory();

} // namespace ostrel
