// The `ostrel` command. It answers what needs no palette (--toggle, --help,
// --version, --autostart) with plain C++ and the C library, so that a
// desktop shortcut bound to `ostrel --toggle` costs about as much as kill(1),
// and otherwise becomes the palette, which lives beside it.
#include "app/commandline.h"
#include "platform/files.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

// The palette's executable: where an install puts it, else where the build
// tree has it, both beside this executable.
std::string paletteExecutable()
{
    std::string dir = ostrel::linkTarget("/proc/self/exe");
    if (dir.empty())
        return {};
    dir.erase(dir.rfind('/') + 1);
    for (const char *relative : {OSTREL_PALETTE_INSTALLED, OSTREL_PALETTE_BUILT}) {
        const std::string path = dir + relative;
        if (::access(path.c_str(), X_OK) == 0)
            return path;
    }
    return {};
}

} // namespace

int main(int argc, char *argv[])
{
    // Before anything else: a SIGUSR1 sent while Ostrel starts must not end
    // it. Blocked, it waits (across the exec below) until the palette has its
    // handler in place, and then toggles.
    sigset_t toggle;
    sigemptyset(&toggle);
    sigaddset(&toggle, SIGUSR1);
    ::sigprocmask(SIG_BLOCK, &toggle, nullptr);

    if (const std::optional<int> status = ostrel::handleCommandLine(argc, argv))
        return *status;
    const std::string palette = paletteExecutable();
    if (palette.empty()) {
        std::fputs("ostrel: the palette is not installed beside this ostrel\n", stderr);
        return 1;
    }
    ::execv(palette.c_str(), argv);
    std::fprintf(stderr, "ostrel: cannot start %s: %s\n", palette.c_str(), std::strerror(errno));
    return 1;
}
