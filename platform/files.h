#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

// Plain C++ and the C library only: the small `ostrel` command uses these
// before any toolkit is loaded.
namespace ostrel {

// The text of errno, as it is now.
std::string systemError();

// What the symlink at `path` points to (/proc/self/exe: this executable);
// empty when it cannot be read.
std::string linkTarget(const std::string &path);

// A small regular file (at most `cap` bytes), read without following a
// symlink at the path or waiting on a FIFO planted there; with `ownOnly`,
// only a file of ours (files under /proc/PID belong to that process's user).
// Read to its end, as /proc files say nothing of their size. None when it
// is missing, another kind of file, another's or bigger.
std::optional<std::string> readSmallFile(const std::string &path, size_t cap, bool ownOnly);

// Writes all of `bytes`, through short writes and interruptions.
bool writeAll(int fd, std::string_view bytes);

// Replaces whatever is at `path` with a file of `mode` holding only `bytes`:
// written beside it under a hidden temporary name first (flushed to disk
// when `sync`), then renamed into place in one step. rename() replaces a
// symlink itself, never its target; in a sticky directory it refuses to
// replace another user's file. 0, or the errno of the step that failed; no
// temporary file is left either way.
int replaceFile(const std::string &path, std::string_view bytes, mode_t mode, bool sync);

} // namespace ostrel
