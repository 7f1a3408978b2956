#!/usr/bin/env bash
# The whole program under a real X server and window manager: start it,
# summon the palette with SIGUSR1, type into it, send it away with Escape and
# by focusing another window, and read the log file it wrote.
#   summon.sh PATH_TO_OSTREL   (run inside tests/xvfb-session.sh)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
setup "$1"

check "logs ready with its pid" start_app
refresh_log
check "log lines carry a UTC timestamp" grep -qE "^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} \+0000 ready pid=$app\$" "$log_copy"
check "standard error carries the system-log form" grep -qx "ostrel: ready pid=$app" "$work/stderr"
check "no window before the first toggle" bash -c "! xdotool search --classname '^ostrel\$' >/dev/null 2>&1"

kill -USR1 "$app"
check "SIGUSR1 maps the palette" wait_for 10 find_panel
wait_for 5 is_viewable "$wid"
check "palette sits centred, 22% down: 620,237 680x114" wait_for 5 bash -c "[ \"\$(source $here/lib.sh; geometry $wid)\" = '620,237,680,114' ]"
check "palette has keyboard focus" wait_for 5 is_active "$wid"
props=$(xprop -id "$wid")
check "skips taskbar and pager" grep -qE '_NET_WM_STATE\(ATOM\) = .*_NET_WM_STATE_SKIP_TASKBAR.*_NET_WM_STATE_SKIP_PAGER|_NET_WM_STATE\(ATOM\) = .*_NET_WM_STATE_SKIP_PAGER.*_NET_WM_STATE_SKIP_TASKBAR' <<<"$props"
check "shows on every desktop" grep -q '_NET_WM_DESKTOP(CARDINAL) = 4294967295' <<<"$props"

xdotool type --delay 20 "what apps are open"
check "typed text lands in the field" wait_for 5 field_shows "what apps are open"
check "typing does not hide the palette" is_viewable "$wid"

xdotool key Escape
check "Escape unmaps the palette" wait_for 5 is_unmapped "$wid"
kill -USR1 "$app"
check "SIGUSR1 shows it again" wait_for 5 is_viewable "$wid"
check "it is marked again after being withdrawn" bash -c "xprop -id $wid _NET_WM_STATE | grep -q SKIP_TASKBAR"
kill -USR1 "$app"
check "SIGUSR1 hides it again" wait_for 5 is_unmapped "$wid"

for _ in $(seq 200); do kill -USR1 "$app"; done
# Settled once a while passes without a toggle logged.
burst_settled() { local before; before=$(toggles); sleep 0.3; [ "$(toggles)" = "$before" ] && kill -0 "$app"; }
check "a burst of 200 signals settles and leaves the process alive" wait_for 10 burst_settled
toggles=$(toggles)
check "the burst toggled far fewer times than it signalled ($toggles toggles)" test "$toggles" -lt 100

# Focus moving to another window hides a palette that had focus.
if is_viewable "$wid"; then kill -USR1 "$app"; wait_for 5 is_unmapped "$wid"; fi
kill -USR1 "$app"
shown_with_focus() { is_viewable "$wid" && is_active "$wid"; }
check "summoned again after the burst, with focus" wait_for 5 shown_with_focus
# A key typed now is handled after the activation that came before it.
xdotool type "x"
check "the key typed right after summoning lands" wait_for 5 field_shows x
focus_other_window
check "losing focus hides the palette" wait_for 5 is_unmapped "$wid" ||
    echo "# palette $(map_state "$wid"), active $(active_window), focus $(xdotool getwindowfocus), other $other_wid"
check "the process is still alive" kill -0 "$app"
check "toggles logged visible=false" log_has "toggle, visible=false"
check "and visible=true" log_has "toggle, visible=true"

stop_app
finish
