#!/usr/bin/env bash
# The hot key taken by openbox's default Alt+Space binding, and no X server
# at all: the program starts, says why in its log, and SIGUSR1 still toggles.
#   hotkey-taken.sh PATH_TO_OSTREL
#   (run inside tests/xvfb-session.sh --wm-config /etc/xdg/openbox/rc.xml)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
setup "$1"
toggled() { messages | grep -qx "toggle, visible=$1"; }

check "starts although openbox holds Alt+Space" start_app
check "logs the refused grab, then the remaining steps" diff <(messages | head -n5) <(printf '%s\n' "handler status=0" \
    "hotkey option-space status=10" "the shortcut is already taken by another application" "accessibility trusted=true" "ready pid=$app")
kill -USR1 "$app"
check "SIGUSR1 still toggles" wait_for 5 toggled false
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
