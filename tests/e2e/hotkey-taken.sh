#!/usr/bin/env bash
# The hot key taken by openbox's default Alt+Space binding, and no X server
# at all: the program starts, says why in its log, and SIGUSR1 still toggles.
#   hotkey-taken.sh PATH_TO_OSTREL
#   (run inside tests/xvfb-session.sh --wm-config /etc/xdg/openbox/rc.xml)
set -uo pipefail
source "$(dirname "$0")/lib.sh"
setup "$1"
toggled() { messages | grep -qx "toggle, visible=$1"; }

# A private session bus, and every notification asked of it.
dbus-daemon --config-file="$(dirname "$0")/../testkit/session-bus.conf" --nofork --print-address=3 3> "$work/bus" 2>/dev/null &
helpers+=($!)
wait_for 10 test -s "$work/bus"
bus=$(head -n1 "$work/bus")
dbus-monitor --address "$bus" "interface='org.freedesktop.Notifications'" > "$work/notices" 2>&1 &
helpers+=($!)
wait_for 10 grep -q NameAcquired "$work/notices"

check "starts although openbox holds Alt+Space" start_app DBUS_SESSION_BUS_ADDRESS="$bus"
check "logs the refused grab, then the remaining steps" diff <(messages | head -n5) <(printf '%s\n' "handler status=0" \
    "hotkey option-space status=10" "the shortcut is already taken by another application" "accessibility trusted=true" "ready pid=$app")
notified() { [ "$(grep -c 'member=Notify' "$work/notices")" = 1 ]; }
check "one desktop notification names the key and the ways out" wait_for 5 eval \
    'notified && grep -q "Alt+Space belongs" "$work/notices" && grep -q "ostrel --toggle.*OSTREL_HOTKEY" "$work/notices"'
# Openbox takes the press; the key monitor sees it, and leaves it alone.
xdotool key alt+space
check "Alt+Space, seen by the key monitor" wait_for 5 log_has "space keydown flags=524288 match=true"
xdotool key Escape
check "does not toggle the palette" test "$(toggles)" = 0
kill -USR1 "$app"
check "SIGUSR1 still toggles" wait_for 5 toggled false
check "a bus without a notification server is no error" lacks grep -vq '^ostrel: ' "$work/stderr"
stop_app

# No X server: Qt would abort, yet the palette must stay reachable.
check "starts without any display" start_app -u DISPLAY -u WAYLAND_DISPLAY
failed_steps() { messages | grep -E '^(handler|hotkey|accessibility) ' | tr '\n' ' ' | grep -qxE 'handler status=[1-9][0-9]* hotkey option-space status=-1 accessibility trusted=false '; }
check "the hot key, its registration and the key monitor report their failure" failed_steps
check "which is no X server, with the advice to bind ostrel --toggle" log_has 'no X server for the hot key; for a global hot key, bind the command "ostrel --toggle"'
check "not a shortcut taken by another application" lacks log_has "already taken"
kill -USR1 "$app"
check "SIGUSR1 toggles without a display" wait_for 5 toggled false
finish
