#pragma once

#include <optional>

namespace ostrel {

// What happens before the application object exists: --help, --version and
// --toggle are answered, a bad argument or a second instance is refused.
// Returns the exit status when the process is to end here, nothing when the
// palette is to start (this process now holds the instance lock).
std::optional<int> handleCommandLine(int argc, const char *const *argv);

} // namespace ostrel
