#!/usr/bin/env bash
# The hot key on a Wayland session: the X11 grab is logged for what it is,
# the desktop portal's GlobalShortcuts is asked for the shortcut and its
# Activated signal toggles the palette; without a portal, or with one that
# refuses, the log says how to bind ostrel --toggle instead.
#   portal.sh PATH_TO_OSTREL   (run inside tests/xvfb-session.sh
#   dbus-run-session --config-file=tests/testkit/session-bus.conf --)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../e2e/lib.sh"
setup "$1"
export XDG_SESSION_TYPE=wayland
advice='bind the command "ostrel --toggle" to a key'

check "starts on a Wayland session without a portal" start_app
check "logs that the X11 hot key only sees X windows" \
    log_has "hotkey option-space works only while an X window has focus: this is a Wayland session"
check "and, with no portal, how to bind ostrel --toggle" \
    wait_for 10 log_has "no desktop portal shortcut (no desktop portal on the session bus); for a global"
stop_app

portal() {
    "$here/fake-portal.py" "$@" > "$work/portal" 2>&1 &
    helpers+=($!)
    wait_for 10 grep -q ready "$work/portal"
}
press() { dbus-send --print-reply=literal --session --dest=org.freedesktop.portal.Desktop /org/freedesktop/portal/desktop org.ostrel.FakePortal.Press; }

# One that refuses, and one that grants the request but binds no key.
for kind in refuse bind-nothing; do
    portal --$kind
    check "starts beside a portal that answers --$kind" start_app
    check "which leaves the advice" wait_for 10 log_has "$advice"
    check "and claims no shortcut" lacks log_has "hotkey bound through the desktop portal"
    stop_app
    kill "${helpers[-1]}"; wait "${helpers[-1]}" 2>/dev/null
done

portal
check "starts beside a portal with GlobalShortcuts" start_app
check "which binds Alt+Space" wait_for 10 grep -qx "bound toggle ALT+space" "$work/portal"
check "and the log says so" wait_for 10 log_has "hotkey bound through the desktop portal: Alt+space"
press
check "the portal's Activated shows the palette" wait_for 10 panel_focused
press
check "and hides it" wait_for 5 is_unmapped "$wid"
check "no advice when the portal took the shortcut" lacks log_has "$advice"
finish
