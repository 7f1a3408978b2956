#!/usr/bin/env bash
# The whole program under a real X server and window manager: start it,
# summon the palette with SIGUSR1, type into it, send it away with Escape and
# by focusing another window, and read the log file it wrote.
#   summon.sh PATH_TO_OSTREL   (run inside tests/xvfb-session.sh)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
ostrel=$1
: "${DISPLAY:?run inside tests/xvfb-session.sh}"
command -v xwd >/dev/null 2>&1 || { echo "not ok - xwd is not installed (scripts/install-deps.sh --test)"; exit 1; }

work=$(mktemp -d)
app=""; other=""
cleanup() {
    [ -n "$other" ] && kill "$other" 2>/dev/null
    [ -n "$app" ] && kill "$app" 2>/dev/null && wait "$app" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

logfile=/tmp/ostrel-app.log
log_start=$( [ -f "$logfile" ] && stat -c %s "$logfile" || echo 0 )
log_copy=$work/log
refresh_log() { tail -c +"$((log_start + 1))" "$logfile" > "$log_copy" 2>/dev/null || : > "$log_copy"; }

mkdir -p "$work/home"
# Its own runtime directory, so that no other running ostrel refuses it.
export XDG_RUNTIME_DIR=$work/run; mkdir -m 700 "$XDG_RUNTIME_DIR"
HOME=$work/home OSTREL_REPO=$work/no-agent "$ostrel" 2>"$work/stderr" &
app=$!
check "logs ready with its pid" wait_for 20 bash -c "grep -qF 'ready pid=$app' $logfile"
refresh_log
check "log lines carry a UTC timestamp" grep -qE "^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} \+0000 ready pid=$app\$" "$log_copy"
check "standard error carries the system-log form" grep -qx "ostrel: ready pid=$app" "$work/stderr"
check "no window before the first toggle" bash -c "! xdotool search --classname '^ostrel\$' >/dev/null 2>&1"

kill -USR1 "$app"
wid=""
find_panel() { wid=$(xdotool search --onlyvisible --classname '^ostrel$' 2>/dev/null | head -n1); [ -n "$wid" ]; }
check "SIGUSR1 maps the palette" wait_for 10 find_panel
wait_for 5 is_viewable "$wid"
check "palette sits centred, 22% down: 620,237 680x114" wait_for 5 bash -c "[ \"\$(source $here/lib.sh; geometry $wid)\" = '620,237,680,114' ]"
check "palette has keyboard focus" wait_for 5 is_active "$wid"
props=$(xprop -id "$wid")
check "skips taskbar and pager" grep -qE '_NET_WM_STATE\(ATOM\) = .*_NET_WM_STATE_SKIP_TASKBAR.*_NET_WM_STATE_SKIP_PAGER|_NET_WM_STATE\(ATOM\) = .*_NET_WM_STATE_SKIP_PAGER.*_NET_WM_STATE_SKIP_TASKBAR' <<<"$props"
check "shows on every desktop" grep -q '_NET_WM_DESKTOP(CARDINAL) = 4294967295' <<<"$props"

# Typed text replaces the placeholder: far more pixels change than a
# blinking cursor would.
snapshot() { xwd -silent -id "$wid" > "$work/before.xwd"; }
field_changed() {
    xwd -silent -id "$wid" > "$work/after.xwd" 2>/dev/null &&
        [ "$(cmp -l "$work/before.xwd" "$work/after.xwd" 2>/dev/null | wc -l)" -gt 2000 ]
}
snapshot
xdotool type --delay 20 "what apps are open"
check "typing changes what the field shows" wait_for 5 field_changed
check "typing does not hide the palette" is_viewable "$wid"

xdotool key Escape
check "Escape unmaps the palette" wait_for 5 is_unmapped "$wid"

kill -USR1 "$app"
check "SIGUSR1 shows it again" wait_for 5 is_viewable "$wid"
check "it is marked again after being withdrawn" bash -c "xprop -id $wid _NET_WM_STATE | grep -q SKIP_TASKBAR"
kill -USR1 "$app"
check "SIGUSR1 hides it again" wait_for 5 is_unmapped "$wid"

for _ in $(seq 200); do kill -USR1 "$app"; done
sleep 1
check "a burst of 200 signals leaves the process alive" kill -0 "$app"

# Focus moving to another window hides a palette that had focus.
if is_viewable "$wid"; then kill -USR1 "$app"; wait_for 5 is_unmapped "$wid"; fi
kill -USR1 "$app"
check "summoned again after the burst, with focus" wait_for 5 bash -c "source $here/lib.sh; is_viewable $wid && is_active $wid"
# A key typed now is handled after the activation that came before it.
snapshot
xdotool type "x"
wait_for 5 field_changed
xmessage -name other -geometry 300x100+50+50 "another window" &
other=$!
other_wid=""
find_other() { other_wid=$(xdotool search --onlyvisible --classname '^other$' 2>/dev/null | head -n1); [ -n "$other_wid" ]; }
wait_for 10 find_other && xdotool windowactivate "$other_wid" 2>/dev/null
check "losing focus hides the palette" wait_for 5 is_unmapped "$wid" ||
    echo "# palette $(map_state "$wid"), active $(active_window), focus $(xdotool getwindowfocus), other $other_wid"
check "the process is still alive" kill -0 "$app"

refresh_log
check "first toggle logged visible=false" log_has "toggle, visible=false"
check "second toggle logged visible=true" log_has "toggle, visible=true"
toggles=$(grep -c 'toggle, visible=' "$log_copy")
check "the burst toggled far fewer times than it signalled ($toggles toggles)" test "$toggles" -lt 100

kill "$app"; wait "$app" 2>/dev/null; app=""
finish
