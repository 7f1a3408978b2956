#pragma once

#include <optional>

namespace ostrel {

// What the `ostrel` command answers by itself, with plain C++ and the C
// library and before any toolkit is loaded: --help, --version, --toggle,
// --autostart, and a bad argument. Returns the exit status when the process
// is to end here, nothing when the palette is to start.
std::optional<int> handleCommandLine(int argc, const char *const *argv);

// Takes this user's one instance for this process, or says why not: another
// palette runs (the status to exit with), or the lock cannot be had here
// (said, and the palette starts anyway).
std::optional<int> claimOrRefuse();

} // namespace ostrel
