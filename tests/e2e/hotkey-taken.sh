#!/usr/bin/env bash
# When the hot key cannot be had: under openbox's default configuration,
# which binds Alt+Space itself, and with no X server at all. Either way the
# program starts, says why in its log, and SIGUSR1 still toggles it.
#   hotkey-taken.sh PATH_TO_OSTREL
#   (run inside tests/xvfb-session.sh --wm-config /etc/xdg/openbox/rc.xml)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
ostrel=$1
: "${DISPLAY:?run inside tests/xvfb-session.sh}"

work=$(mktemp -d)
app=""
cleanup() {
    [ -n "$app" ] && kill "$app" 2>/dev/null && wait "$app" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

export XDG_RUNTIME_DIR=$work/run HOME=$work/home OSTREL_REPO=$work/no-agent
mkdir -m 700 "$XDG_RUNTIME_DIR" "$HOME"
logfile=/tmp/ostrel-app.log
log_copy=$work/log
mark_log() { log_start=$( [ -f "$logfile" ] && stat -c %s "$logfile" || echo 0 ); }
refresh_log() { tail -c +"$((log_start + 1))" "$logfile" > "$log_copy" 2>/dev/null || : > "$log_copy"; }
messages() { refresh_log; sed -E 's/^[0-9-]+ [0-9:]+ \+0000 //' "$log_copy"; }
toggled() { refresh_log; grep -qx "[0-9 :+-]* toggle, visible=$1" "$log_copy"; }

start_app() { # start_app [env NAME=VALUE...]
    mark_log
    "$@" "$ostrel" 2>>"$work/stderr" &
    app=$!
    wait_for 20 grep -qF "ready pid=$app" "$logfile"
}

check "starts although openbox holds Alt+Space" start_app
check "logs the refused grab, then the remaining steps" diff <(messages | head -n5) <(printf '%s\n' \
    "handler status=0" "hotkey option-space status=10" \
    "the shortcut is already taken by another application" \
    "accessibility trusted=true" "ready pid=$app")
kill -USR1 "$app"
check "SIGUSR1 still toggles" wait_for 5 toggled false
kill -USR1 "$app"
check "and back" wait_for 5 toggled true
kill "$app"; wait "$app" 2>/dev/null; app=""

# No X server: Qt would abort, yet the palette must stay reachable.
check "starts without any display" start_app env -u DISPLAY -u WAYLAND_DISPLAY
refresh_log
check "the hot key reports its failure" grep -qE ' handler status=[1-9][0-9]*$' "$log_copy"
check "the registration too" log_has "hotkey option-space status=-1"
check "no key monitor of other applications" log_has "accessibility trusted=false"
kill -USR1 "$app"
check "SIGUSR1 toggles without a display" wait_for 5 toggled false
check "and the process lives on" kill -0 "$app"

finish
