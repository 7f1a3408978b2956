// Types on a Wayland compositor through its virtual keyboard, with the
// standard US keymap, so that every client (XWayland included) gets real key
// events from the compositor. Reads one line of words at a time from
// standard input until its end, and keeps the keyboard meanwhile:
//   +NAME  presses the key of keysym NAME (Alt_L, space, q...)
//   -NAME  releases it
//   NAME   presses and releases it
//   text:WORD  taps each character of WORD
//   sleep:MS   waits
#define _GNU_SOURCE
#include "virtual-keyboard-unstable-v1-client-protocol.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

static struct wl_seat *seat;
static struct zwp_virtual_keyboard_manager_v1 *manager;
static struct zwp_virtual_keyboard_v1 *keyboard;
static struct xkb_keymap *keymap;

static void global(void *data, struct wl_registry *registry, uint32_t name, const char *interface,
                   uint32_t version)
{
    (void)data;
    (void)version;
    if (!seat && strcmp(interface, wl_seat_interface.name) == 0)
        seat = wl_registry_bind(registry, name, &wl_seat_interface, 1);
    else if (strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0)
        manager = wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1);
}

static void global_remove(void *data, struct wl_registry *registry, uint32_t name)
{
    (void)data;
    (void)registry;
    (void)name;
}

static const struct wl_registry_listener registry_listener = {global, global_remove};

static uint32_t now_ms(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (uint32_t)(ts.tv_sec * 1000 + ts.tv_nsec / 1000000);
}

// The evdev code of the first key whose first level carries the keysym.
static int code_for(xkb_keysym_t sym)
{
    for (xkb_keycode_t code = xkb_keymap_min_keycode(keymap);
         code <= xkb_keymap_max_keycode(keymap); ++code) {
        const xkb_keysym_t *syms;
        if (xkb_keymap_key_get_syms_by_level(keymap, code, 0, 0, &syms) > 0 && syms[0] == sym)
            return (int)code - 8;
    }
    return -1;
}

static int send_key(struct wl_display *display, xkb_keysym_t sym, int press, int release,
                    const char *word)
{
    const int code = code_for(sym);
    if (code < 0) {
        fprintf(stderr, "wlkeys: no key for %s\n", word);
        return -1;
    }
    if (press)
        zwp_virtual_keyboard_v1_key(keyboard, now_ms(), (uint32_t)code,
                                    WL_KEYBOARD_KEY_STATE_PRESSED);
    if (release)
        zwp_virtual_keyboard_v1_key(keyboard, now_ms(), (uint32_t)code,
                                    WL_KEYBOARD_KEY_STATE_RELEASED);
    // One key at a time reaches the clients, as typing would.
    wl_display_roundtrip(display);
    usleep(15000);
    return 0;
}

static int run_word(struct wl_display *display, const char *word)
{
    if (strncmp(word, "sleep:", 6) == 0) {
        usleep((useconds_t)atoi(word + 6) * 1000);
        return 0;
    }
    if (strncmp(word, "text:", 5) == 0) {
        for (const char *c = word + 5; *c; ++c) {
            if (send_key(display, xkb_utf32_to_keysym((uint32_t)(unsigned char)*c), 1, 1, word))
                return -1;
        }
        return 0;
    }
    const int press = word[0] != '-', release = word[0] != '+';
    const char *name = (word[0] == '+' || word[0] == '-') ? word + 1 : word;
    const xkb_keysym_t sym = xkb_keysym_from_name(name, XKB_KEYSYM_NO_FLAGS);
    if (sym == XKB_KEY_NoSymbol) {
        fprintf(stderr, "wlkeys: unknown key %s\n", name);
        return -1;
    }
    return send_key(display, sym, press, release, word);
}

int main(void)
{
    struct wl_display *display = wl_display_connect(NULL);
    if (!display) {
        fprintf(stderr, "wlkeys: no Wayland display\n");
        return 1;
    }
    struct wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registry_listener, NULL);
    wl_display_roundtrip(display);
    if (!seat || !manager) {
        fprintf(stderr, "wlkeys: the compositor offers no virtual keyboard\n");
        return 1;
    }
    struct xkb_context *context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    const struct xkb_rule_names names = {"evdev", "pc105", "us", "", ""};
    keymap =
        context ? xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS) : NULL;
    char *text = keymap ? xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1) : NULL;
    if (!text) {
        fprintf(stderr, "wlkeys: cannot compile the US keymap\n");
        return 1;
    }
    const size_t size = strlen(text) + 1;
    const int fd = memfd_create("keymap", MFD_CLOEXEC);
    if (fd < 0 || write(fd, text, size) != (ssize_t)size) {
        perror("wlkeys: keymap");
        return 1;
    }
    keyboard = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(manager, seat);
    zwp_virtual_keyboard_v1_keymap(keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd, (uint32_t)size);
    wl_display_roundtrip(display);
    printf("ready\n");
    fflush(stdout);

    char *line = NULL;
    size_t capacity = 0;
    int status = 0;
    while (getline(&line, &capacity, stdin) > 0) {
        for (char *word = strtok(line, " \t\n"); word; word = strtok(NULL, " \t\n"))
            status |= run_word(display, word) != 0;
        if (wl_display_roundtrip(display) < 0) {
            fprintf(stderr, "wlkeys: the compositor went away\n");
            return 1;
        }
    }
    free(line);
    return status ? 1 : 0;
}
