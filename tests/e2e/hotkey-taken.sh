#!/usr/bin/env bash
# When the hot key cannot be had: under openbox's default configuration,
# which binds Alt+Space itself, and with no X server at all. Either way the
# program starts, says why in its log, and SIGUSR1 still toggles it.
#   hotkey-taken.sh PATH_TO_OSTREL
#   (run inside tests/xvfb-session.sh --wm-config /etc/xdg/openbox/rc.xml)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
setup "$1"
toggled() { refresh_log; grep -qx "[0-9 :+-]* toggle, visible=$1" "$log_copy"; }

check "starts although openbox holds Alt+Space" start_app
check "logs the refused grab, then the remaining steps" diff <(messages | head -n5) <(printf '%s\n' \
    "handler status=0" "hotkey option-space status=10" \
    "the shortcut is already taken by another application" \
    "accessibility trusted=true" "ready pid=$app")
kill -USR1 "$app"
check "SIGUSR1 still toggles" wait_for 5 toggled false
kill -USR1 "$app"
check "and back" wait_for 5 toggled true
stop_app

# No X server: Qt would abort, yet the palette must stay reachable.
check "starts without any display" start_app -u DISPLAY -u WAYLAND_DISPLAY
refresh_log
check "the hot key reports its failure" grep -qE ' handler status=[1-9][0-9]*$' "$log_copy"
check "the registration too" log_has "hotkey option-space status=-1"
check "no key monitor of other applications" log_has "accessibility trusted=false"
kill -USR1 "$app"
check "SIGUSR1 toggles without a display" wait_for 5 toggled false
check "and the process lives on" kill -0 "$app"

finish
