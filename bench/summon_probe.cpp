// Measures, from outside the process, how fast the palette comes up: the time
// from SIGUSR1 to the panel's MapNotify and to its first paint (the first
// DAMAGE notification after the map), over many shows; and, for comparison,
// dmenu's cold start from exec to its window being mapped. Then the same for
// the hot key (Alt+Space typed through XTEST), and how many of the characters
// typed 10 ms after the hot key miss the palette and reach the window that
// had focus; how many letters rolled into the hot key (pressed before Space
// is let go) and typed right after it miss the palette; how many quick
// re-shows lose the panel's taskbar, pager and desktop marks; and, given the
// ostrel command, how long `ostrel --toggle` takes until its signal is
// received, beside `true` until it has ended.
//
//   summon_probe PID SHOWS DMENU_RUNS [OSTREL]
#include <xcb/damage.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;
using Event = std::unique_ptr<xcb_generic_event_t, decltype(&std::free)>;

xcb_connection_t *connection;
xcb_window_t root;
uint8_t damageBase;

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// The next event, or nothing once `deadline` has passed.
std::optional<Event> nextEvent(Clock::time_point deadline)
{
    for (;;) {
        if (auto *event = xcb_poll_for_event(connection))
            return Event(event, &std::free);
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return std::nullopt;
        pollfd fd{xcb_get_file_descriptor(connection), POLLIN, 0};
        ::poll(&fd, 1, int(left.count()));
    }
}

bool hasClass(xcb_window_t window, const char *wanted)
{
    auto cookie =
        xcb_get_property(connection, 0, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 64);
    std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
        xcb_get_property_reply(connection, cookie, nullptr), &std::free);
    if (!reply)
        return false;
    const char *value = static_cast<const char *>(xcb_get_property_value(reply.get()));
    const int length = xcb_get_property_value_length(reply.get());
    return length >= int(std::strlen(wanted)) &&
           std::strncmp(value, wanted, std::strlen(wanted)) == 0;
}

void watch(xcb_window_t window)
{
    const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection, window, XCB_CW_EVENT_MASK, &mask);
    xcb_damage_create(connection, xcb_generate_id(connection), window,
                      XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
    xcb_flush(connection);
}

struct Show {
    double mapped = -1;
    double painted = -1;
};

// Waits for the panel to map and then paint. On the first show the window
// does not exist yet: every new top-level window is watched until one of
// class "ostrel" maps.
Show awaitShow(Clock::time_point start, xcb_window_t &panel)
{
    Show show;
    const auto deadline = start + std::chrono::seconds(10);
    while (auto event = nextEvent(deadline)) {
        const uint8_t type = (*event)->response_type & 0x7f;
        if (type == XCB_CREATE_NOTIFY && !panel) {
            watch(reinterpret_cast<xcb_create_notify_event_t *>(event->get())->window);
        } else if (type == XCB_MAP_NOTIFY) {
            const auto *map = reinterpret_cast<xcb_map_notify_event_t *>(event->get());
            if (show.mapped < 0 && map->event == map->window &&
                (map->window == panel || (!panel && hasClass(map->window, "ostrel")))) {
                panel = map->window;
                show.mapped = ms(Clock::now() - start);
            }
        } else if (type == damageBase + XCB_DAMAGE_NOTIFY) {
            const auto *damage = reinterpret_cast<xcb_damage_notify_event_t *>(event->get());
            // Re-arm: the next paint reports again.
            xcb_damage_subtract(connection, damage->damage, XCB_NONE, XCB_NONE);
            xcb_flush(connection);
            if (damage->drawable == panel && show.mapped >= 0) {
                show.painted = ms(Clock::now() - start);
                return show;
            }
        }
    }
    return show;
}

bool awaitUnmap(xcb_window_t panel)
{
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (auto event = nextEvent(deadline)) {
        const uint8_t type = (*event)->response_type & 0x7f;
        if (type == XCB_UNMAP_NOTIFY &&
            reinterpret_cast<xcb_unmap_notify_event_t *>(event->get())->window == panel)
            return true;
        if (type == damageBase + XCB_DAMAGE_NOTIFY) {
            xcb_damage_subtract(connection,
                                reinterpret_cast<xcb_damage_notify_event_t *>(event->get())->damage,
                                XCB_NONE, XCB_NONE);
            xcb_flush(connection);
        }
    }
    return false;
}

void drain(std::chrono::milliseconds settle)
{
    const auto deadline = Clock::now() + settle;
    while (auto event = nextEvent(deadline)) {
        if (((*event)->response_type & 0x7f) == damageBase + XCB_DAMAGE_NOTIFY) {
            xcb_damage_subtract(connection,
                                reinterpret_cast<xcb_damage_notify_event_t *>(event->get())->damage,
                                XCB_NONE, XCB_NONE);
            xcb_flush(connection);
        }
    }
}

// dmenu from exec to its (override-redirect) window being mapped.
double dmenuColdStart()
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    char arg0[] = "dmenu";
    char *argv[] = {arg0, nullptr};
    const auto start = Clock::now();
    pid_t pid = 0;
    const int failed = posix_spawnp(&pid, "dmenu", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed)
        return -1;
    double mapped = -1;
    const auto deadline = start + std::chrono::seconds(10);
    while (auto event = nextEvent(deadline)) {
        if (((*event)->response_type & 0x7f) == XCB_MAP_NOTIFY &&
            reinterpret_cast<xcb_map_notify_event_t *>(event->get())->override_redirect) {
            mapped = ms(Clock::now() - start);
            break;
        }
    }
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
    return mapped;
}

std::string residentMemory(pid_t pid)
{
    const std::string path = "/proc/" + std::to_string(pid) + "/status";
    std::unique_ptr<FILE, decltype(&std::fclose)> file(std::fopen(path.c_str(), "r"), &std::fclose);
    char line[256];
    while (file && std::fgets(line, sizeof line, file.get())) {
        if (std::strncmp(line, "VmRSS:", 6) == 0) {
            std::string value(line + 6);
            value.erase(0, value.find_first_not_of(" \t"));
            value.erase(value.find_last_not_of(" \n") + 1);
            return value;
        }
    }
    return "unknown";
}

xcb_keycode_t keycodeFor(xcb_keysym_t sym)
{
    const xcb_setup_t *setup = xcb_get_setup(connection);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    std::unique_ptr<xcb_get_keyboard_mapping_reply_t, decltype(&std::free)> mapping(
        xcb_get_keyboard_mapping_reply(
            connection, xcb_get_keyboard_mapping(connection, setup->min_keycode, uint8_t(count)),
            nullptr),
        &std::free);
    if (!mapping)
        return 0;
    const xcb_keysym_t *syms = xcb_get_keyboard_mapping_keysyms(mapping.get());
    for (int i = 0; i < count * mapping->keysyms_per_keycode; ++i) {
        if (syms[i] == sym)
            return xcb_keycode_t(setup->min_keycode + i / mapping->keysyms_per_keycode);
    }
    return 0;
}

void fakeKey(uint8_t type, xcb_keycode_t key)
{
    xcb_test_fake_input(connection, type, key, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
}

xcb_keycode_t altKey;
xcb_keycode_t spaceKey;

void pressHotKey()
{
    fakeKey(XCB_KEY_PRESS, altKey);
    fakeKey(XCB_KEY_PRESS, spaceKey);
    fakeKey(XCB_KEY_RELEASE, spaceKey);
    fakeKey(XCB_KEY_RELEASE, altKey);
    xcb_flush(connection);
}

// Gives the keyboard to `window` and lets the server settle.
void focusAndSettle(xcb_window_t window)
{
    xcb_set_input_focus(connection, XCB_INPUT_FOCUS_PARENT, window, XCB_CURRENT_TIME);
    xcb_flush(connection);
    drain(std::chrono::milliseconds(150));
}

// Types `keys` from the one at `from` on.
void typeKeys(const std::vector<xcb_keycode_t> &keys, size_t from)
{
    for (size_t k = from; k < keys.size(); ++k) {
        fakeKey(XCB_KEY_PRESS, keys[k]);
        fakeKey(XCB_KEY_RELEASE, keys[k]);
    }
    xcb_flush(connection);
}

// Presses of `keys` that reach `window` over the next `span`. The hot key's
// own modifier press goes to the focused window too, and is no loss.
int keysReaching(xcb_window_t window, const std::vector<xcb_keycode_t> &keys,
                 std::chrono::milliseconds span)
{
    int reached = 0;
    const auto deadline = Clock::now() + span;
    while (auto event = nextEvent(deadline)) {
        const uint8_t type = (*event)->response_type & 0x7f;
        const auto *press = reinterpret_cast<xcb_key_press_event_t *>(event->get());
        if (type == XCB_KEY_PRESS && press->event == window &&
            std::find(keys.begin(), keys.end(), press->detail) != keys.end())
            ++reached;
        else if (type == damageBase + XCB_DAMAGE_NOTIFY) {
            xcb_damage_subtract(connection,
                                reinterpret_cast<xcb_damage_notify_event_t *>(event->get())->damage,
                                XCB_NONE, XCB_NONE);
            xcb_flush(connection);
        }
    }
    return reached;
}

xcb_atom_t atom(const char *name)
{
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(
            connection, xcb_intern_atom(connection, 0, uint16_t(std::strlen(name)), name), nullptr),
        &std::free);
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// Whether the panel skips taskbar and pager and shows on every desktop.
bool marked(xcb_window_t panel)
{
    static const xcb_atom_t state = atom("_NET_WM_STATE"), desktop = atom("_NET_WM_DESKTOP"),
                            taskbar = atom("_NET_WM_STATE_SKIP_TASKBAR"),
                            pager = atom("_NET_WM_STATE_SKIP_PAGER");
    using Reply = std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)>;
    Reply states(xcb_get_property_reply(
                     connection,
                     xcb_get_property(connection, 0, panel, state, XCB_ATOM_ATOM, 0, 32), nullptr),
                 &std::free);
    Reply where(xcb_get_property_reply(
                    connection,
                    xcb_get_property(connection, 0, panel, desktop, XCB_ATOM_CARDINAL, 0, 1),
                    nullptr),
                &std::free);
    if (!states || !where || xcb_get_property_value_length(where.get()) != 4)
        return false;
    const auto *atoms = static_cast<const xcb_atom_t *>(xcb_get_property_value(states.get()));
    const int count = xcb_get_property_value_length(states.get()) / 4;
    const bool skips = std::find(atoms, atoms + count, taskbar) != atoms + count &&
                       std::find(atoms, atoms + count, pager) != atoms + count;
    return skips &&
           *static_cast<const uint32_t *>(xcb_get_property_value(where.get())) == 0xFFFFFFFFu;
}

double monotonicMs()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// Runs `argv` and waits for it; the milliseconds until it ended.
double runToEnd(char *const argv[])
{
    const double start = monotonicMs();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv, environ) != 0)
        return -1;
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? monotonicMs() - start : -1;
}

// `ostrel --toggle` from its start to the moment its signal is received, by
// a stand-in palette: a child named ostrel that holds the instance lock of a
// runtime directory of its own and reports when SIGUSR1 arrives.
std::vector<double> toggleToSignal(const char *ostrel, int runs)
{
    char dir[] = "/tmp/ostrel-bench-XXXXXX";
    if (!::mkdtemp(dir))
        return {};
    const std::string pidFile = std::string(dir) + "/ostrel.pid";
    int report[2];
    if (::pipe(report) != 0)
        return {};
    sigset_t usr1;
    sigemptyset(&usr1);
    sigaddset(&usr1, SIGUSR1);
    ::sigprocmask(SIG_BLOCK, &usr1, nullptr);
    const pid_t standIn = ::fork();
    if (standIn == 0) {
        ::prctl(PR_SET_NAME, "ostrel");
        const int fd = ::open(pidFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        struct flock lock {};
        lock.l_type = F_WRLCK;
        ::fcntl(fd, F_OFD_SETLK, &lock);
        const std::string pid = std::to_string(::getpid()) + "\n";
        [[maybe_unused]] const ssize_t written = ::write(fd, pid.data(), pid.size());
        for (;;) {
            int signal = 0;
            ::sigwait(&usr1, &signal);
            const double at = monotonicMs();
            if (::write(report[1], &at, sizeof at) != sizeof at)
                ::_exit(1);
        }
    }
    ::sigprocmask(SIG_UNBLOCK, &usr1, nullptr);
    std::string runtime = std::string("XDG_RUNTIME_DIR=") + dir;
    std::vector<char *> env;
    for (char **e = environ; *e; ++e) {
        if (std::strncmp(*e, "XDG_RUNTIME_DIR=", 16) != 0)
            env.push_back(*e);
    }
    env.push_back(runtime.data());
    env.push_back(nullptr);
    std::string arg0 = ostrel, arg1 = "--toggle";
    char *argv[] = {arg0.data(), arg1.data(), nullptr};
    // The stand-in has written its pid once the lock is there to be seen.
    for (int i = 0; i < 1000; ++i) {
        struct stat st {};
        if (::stat(pidFile.c_str(), &st) == 0 && st.st_size > 0)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const double start = monotonicMs();
        pid_t pid = 0;
        if (posix_spawn(&pid, ostrel, nullptr, nullptr, argv, env.data()) != 0)
            break;
        double received = 0;
        pollfd fd{report[0], POLLIN, 0};
        const bool got = ::poll(&fd, 1, 2000) == 1 &&
                         ::read(report[0], &received, sizeof received) == sizeof received;
        ::waitpid(pid, nullptr, 0);
        if (!got)
            break;
        times.push_back(received - start);
    }
    ::kill(standIn, SIGKILL);
    ::waitpid(standIn, nullptr, 0);
    ::close(report[0]);
    ::close(report[1]);
    ::unlink(pidFile.c_str());
    ::rmdir(dir);
    return times;
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, size_t(p * double(values.size() - 1) + 0.5));
    return values[index];
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: summon_probe PID SHOWS DMENU_RUNS [OSTREL]\n");
        return 2;
    }
    const pid_t pid = pid_t(std::atoi(argv[1]));
    const int shows = std::atoi(argv[2]);
    const int dmenuRuns = std::atoi(argv[3]);

    connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        std::fprintf(stderr, "summon_probe: cannot open the display\n");
        return 1;
    }
    root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    const xcb_query_extension_reply_t *damage = xcb_get_extension_data(connection, &xcb_damage_id);
    if (!damage || !damage->present) {
        std::fprintf(stderr, "summon_probe: the X server has no DAMAGE extension\n");
        return 1;
    }
    damageBase = damage->first_event;
    free(xcb_damage_query_version_reply(connection, xcb_damage_query_version(connection, 1, 1),
                                        nullptr));
    const uint32_t rootMask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection, root, XCB_CW_EVENT_MASK, &rootMask);
    xcb_flush(connection);

    xcb_window_t panel = 0;
    auto start = Clock::now();
    ::kill(pid, SIGUSR1);
    const Show first = awaitShow(start, panel);
    std::printf("first show: mapped %.2f ms, painted %.2f ms\n", first.mapped, first.painted);
    if (first.painted < 0)
        return 1;
    drain(std::chrono::milliseconds(300));
    std::printf("resident memory after the first show: %s\n", residentMemory(pid).c_str());
    ::kill(pid, SIGUSR1);
    awaitUnmap(panel);

    std::vector<double> mapped;
    std::vector<double> painted;
    for (int i = 0; i < shows; ++i) {
        // Let the window manager and the app settle between shows, as a
        // person pressing the hot key would.
        drain(std::chrono::milliseconds(150));
        start = Clock::now();
        ::kill(pid, SIGUSR1);
        const Show show = awaitShow(start, panel);
        if (show.painted < 0) {
            std::fprintf(stderr, "summon_probe: show %d timed out\n", i);
            return 1;
        }
        mapped.push_back(show.mapped);
        painted.push_back(show.painted);
        drain(std::chrono::milliseconds(100));
        ::kill(pid, SIGUSR1);
        if (!awaitUnmap(panel)) {
            std::fprintf(stderr, "summon_probe: hide %d timed out\n", i);
            return 1;
        }
    }
    std::printf("summon -> mapped:  median %.2f ms, p95 %.2f ms (%d shows)\n",
                percentile(mapped, 0.5), percentile(mapped, 0.95), shows);
    std::printf("summon -> painted: median %.2f ms, p95 %.2f ms (%d shows)\n",
                percentile(painted, 0.5), percentile(painted, 0.95), shows);

    // The hot key, typed through XTEST like a keyboard would.
    altKey = keycodeFor(0xffe9);
    spaceKey = keycodeFor(0x20);
    std::vector<double> hotMapped;
    std::vector<double> hotPainted;
    for (int i = 0; i < shows && altKey && spaceKey; ++i) {
        drain(std::chrono::milliseconds(150));
        start = Clock::now();
        pressHotKey();
        const Show show = awaitShow(start, panel);
        if (show.painted < 0) {
            std::fprintf(stderr,
                         "summon_probe: hot-key show %d timed out (is the hot key taken?)\n", i);
            break;
        }
        hotMapped.push_back(show.mapped);
        hotPainted.push_back(show.painted);
        drain(std::chrono::milliseconds(100));
        pressHotKey();
        awaitUnmap(panel);
    }
    if (!hotPainted.empty()) {
        std::printf("hot key -> mapped:  median %.2f ms, p95 %.2f ms (%zu presses)\n",
                    percentile(hotMapped, 0.5), percentile(hotMapped, 0.95), hotMapped.size());
        std::printf("hot key -> painted: median %.2f ms, p95 %.2f ms (%zu presses)\n",
                    percentile(hotPainted, 0.5), percentile(hotPainted, 0.95), hotPainted.size());
    }

    // Characters typed 10 ms after the hot key: those that reach the window
    // that had focus are lost to the palette.
    const xcb_window_t other = xcb_generate_id(connection);
    const uint32_t otherMask = XCB_EVENT_MASK_KEY_PRESS;
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, other, root, 50, 50, 300, 100, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK,
                      &otherMask);
    xcb_map_window(connection, other);
    xcb_flush(connection);
    drain(std::chrono::milliseconds(300));
    const char typed[] = "asdfg";
    std::vector<xcb_keycode_t> letters;
    for (const char *c = typed; *c; ++c)
        letters.push_back(keycodeFor(xcb_keysym_t(*c)));
    int lost = 0;
    int trials = 0;
    for (; trials < shows && altKey && spaceKey; ++trials) {
        focusAndSettle(other);
        pressHotKey();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        typeKeys(letters, 0);
        lost += keysReaching(other, letters, std::chrono::milliseconds(400));
        pressHotKey();
        awaitUnmap(panel);
    }
    std::printf("characters lost, typed 10 ms after the hot key: %d of %zu (%d trials)\n", lost,
                size_t(trials) * letters.size(), trials);

    // Rolled: Alt let go and the first letter pressed before Space is
    // released, the next letters right after. The panel's own key presses
    // are counted: a letter lost is one that never reached it.
    const uint32_t panelMask = XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_KEY_PRESS;
    xcb_change_window_attributes(connection, panel, XCB_CW_EVENT_MASK, &panelMask);
    int rolledLost = 0;
    int rolledTrials = 0;
    for (; rolledTrials < shows && altKey && spaceKey; ++rolledTrials) {
        focusAndSettle(other);
        fakeKey(XCB_KEY_PRESS, altKey);
        fakeKey(XCB_KEY_PRESS, spaceKey);
        fakeKey(XCB_KEY_RELEASE, altKey);
        fakeKey(XCB_KEY_PRESS, letters[0]);
        fakeKey(XCB_KEY_RELEASE, letters[0]);
        fakeKey(XCB_KEY_RELEASE, spaceKey);
        typeKeys(letters, 1);
        rolledLost +=
            int(letters.size()) - keysReaching(panel, letters, std::chrono::milliseconds(400));
        pressHotKey();
        awaitUnmap(panel);
    }
    std::printf(
        "characters lost, rolled into the hot key and typed after it: %d of %zu (%d trials)\n",
        rolledLost, size_t(rolledTrials) * letters.size(), rolledTrials);

    // Shown again as soon as it was withdrawn, before the window manager may
    // have finished with the withdrawal.
    int unmarked = 0;
    int reshows = 0;
    ::kill(pid, SIGUSR1);
    awaitShow(Clock::now(), panel);
    for (; reshows < 100; ++reshows) {
        drain(std::chrono::milliseconds(50));
        ::kill(pid, SIGUSR1);
        if (!awaitUnmap(panel))
            break;
        ::kill(pid, SIGUSR1);
        if (awaitShow(Clock::now(), panel).painted < 0)
            break;
        drain(std::chrono::milliseconds(100));
        unmarked += marked(panel) ? 0 : 1;
    }
    ::kill(pid, SIGUSR1);
    awaitUnmap(panel);
    std::printf("quick re-shows that lost their marks: %d of %d\n", unmarked, reshows);

    if (argc == 5) {
        const std::vector<double> toggle = toggleToSignal(argv[4], shows);
        std::vector<double> baseline;
        std::string truePath = "/bin/true";
        char *trueArgv[] = {truePath.data(), nullptr};
        for (int i = 0; i < shows; ++i)
            baseline.push_back(runToEnd(trueArgv));
        std::printf("ostrel --toggle -> signal received: median %.2f ms, p95 %.2f ms (%zu runs); "
                    "true -> ended: median %.2f ms, p95 %.2f ms\n",
                    percentile(toggle, 0.5), percentile(toggle, 0.95), toggle.size(),
                    percentile(baseline, 0.5), percentile(baseline, 0.95));
    }

    // The palette was hidden last; dmenu's windows come and go meanwhile.
    std::vector<double> dmenu;
    for (int i = 0; i < dmenuRuns; ++i) {
        drain(std::chrono::milliseconds(100));
        const double t = dmenuColdStart();
        if (t < 0) {
            std::fprintf(stderr,
                         "summon_probe: dmenu did not start (is suckless-tools installed?)\n");
            break;
        }
        dmenu.push_back(t);
    }
    if (!dmenu.empty())
        std::printf("dmenu cold start -> mapped: median %.2f ms, first %.2f ms (%zu runs)\n",
                    percentile(dmenu, 0.5), dmenu.front(), dmenu.size());
    xcb_disconnect(connection);
    return 0;
}
