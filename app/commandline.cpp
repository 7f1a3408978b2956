#include "app/commandline.h"

#include "app/autostart.h"
#include "app/instance.h"
#include "platform/files.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace ostrel {
namespace {

constexpr char usage[] =
    "Usage: ostrel [--toggle | --autostart on|off | --help | --version]\n"
    "\n"
    "A command palette summoned from anywhere with a hot key.\n"
    "\n"
    "Without an option, starts the palette hidden in the background. Alt+Space\n"
    "shows and hides it (OSTREL_HOTKEY: option-space, command-space,\n"
    "control-space or shift-space), and so does SIGUSR1.\n"
    "\n"
    "  --toggle   show or hide the running palette, then exit; bind this to a\n"
    "             desktop shortcut where the hot key cannot be had (Wayland)\n"
    "  --autostart on|off\n"
    "             start this ostrel at login, or no longer: writes or removes\n"
    "             $XDG_CONFIG_HOME/autostart/ostrel.desktop (~/.config/autostart)\n"
    "  --help     show this help and exit\n"
    "  --version  show the version and exit\n";

void say(FILE *stream, const std::string &text)
{
    std::fputs(("ostrel: " + text + '\n').c_str(), stream);
}

int toggleRunning()
{
    const RuntimeDir dir = runtimeDirectory();
    if (dir.path.empty()) {
        say(stderr, dir.error);
        return 1;
    }
    std::string error;
    const std::optional<pid_t> pid = runningInstance(pidFilePath(dir.path), &error);
    if (!pid) {
        say(stderr, error);
        return 1;
    }
    if (::kill(*pid, SIGUSR1) != 0) {
        say(stderr, "cannot signal pid " + std::to_string(*pid) + ": " + std::strerror(errno));
        return 1;
    }
    return 0;
}

// This very executable, however it was started.
std::string self() { return linkTarget("/proc/self/exe"); }

int autostart(const char *value)
{
    const bool on = value && std::strcmp(value, "on") == 0;
    if (!on && !(value && std::strcmp(value, "off") == 0)) {
        say(stderr, "--autostart takes on or off; see ostrel --help");
        return 2;
    }
    const char *home = std::getenv("HOME");
    if (!home || home[0] != '/') {
        say(stderr, "cannot tell where the home folder is: HOME is not set");
        return 1;
    }
    const std::string dir = Autostart::directory(std::getenv("XDG_CONFIG_HOME"), home);
    Autostart::Outcome outcome;
    if (on) {
        const std::string executable = self();
        outcome = executable.empty() ? Autostart::Outcome{false, "cannot tell where this ostrel is"}
                                     : Autostart::enable(executable, dir);
    } else {
        outcome = Autostart::disable(dir);
    }
    say(outcome.ok ? stdout : stderr, outcome.message);
    return outcome.ok ? 0 : 1;
}

} // namespace

std::optional<int> claimOrRefuse()
{
    const RuntimeDir dir = runtimeDirectory();
    if (dir.path.empty()) {
        // Not worth refusing to start over: only --toggle and the
        // second-instance check go without.
        say(stderr, dir.error + "; ostrel --toggle will not find this instance");
        return std::nullopt;
    }
    const InstanceClaim claim = claimInstance(pidFilePath(dir.path));
    switch (claim.outcome) {
    case InstanceClaim::Outcome::Claimed: return std::nullopt;
    case InstanceClaim::Outcome::AlreadyRunning:
        say(stderr, "already running" +
                        (claim.runningPid ? " (pid " + std::to_string(claim.runningPid) + ')'
                                          : std::string()) +
                        "; show it with: ostrel --toggle");
        return 1;
    case InstanceClaim::Outcome::Unavailable:
        say(stderr, claim.error + "; ostrel --toggle will not find this instance");
        return std::nullopt;
    }
    return std::nullopt;
}

std::optional<int> handleCommandLine(int argc, const char *const *argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--autostart") == 0 && argc <= 3)
        return autostart(argc == 3 ? argv[2] : nullptr);
    if (argc > 2) {
        std::fputs(usage, stderr);
        return 2;
    }
    if (argc == 2) {
        const char *arg = argv[1];
        if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            std::fputs(usage, stdout);
            return 0;
        }
        if (std::strcmp(arg, "--version") == 0) {
            std::printf("ostrel %s\n", OSTREL_VERSION);
            return 0;
        }
        if (std::strcmp(arg, "--toggle") == 0)
            return toggleRunning();
        say(stderr, std::string("unknown argument ") + arg + "; see ostrel --help");
        return 2;
    }
    return std::nullopt;
}

} // namespace ostrel
