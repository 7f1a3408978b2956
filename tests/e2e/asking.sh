#!/usr/bin/env bash
# Asking the bundled agent through the whole program: a typed sum comes back
# as a row, a timer shows as a shimmering task row that keeps the palette up
# while focus is elsewhere, and its stop button cancels it. The rows on show
# are read from the panel's _OSTREL_ROWS property (OSTREL_DEBUG_ROWS), one
# "title|subtitle|busy or idle|stop or -" line per row.
#   asking.sh PATH_TO_OSTREL   (run inside tests/xvfb-session.sh)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
source "$here/lib.sh"
setup "$1"
node=$(command -v node) || { echo "asking.sh: node is not installed (scripts/install-deps.sh)" >&2; exit 1; }

"$node" "$root/agent/ostrel/daemon.mjs" 2>"$work/daemon.log" &
helpers+=($!)
check "the bundled agent publishes its daemon file" wait_for 20 test -s "$HOME/.ostrel/daemon.json"
check "ostrel is ready" start_app OSTREL_REPO="$root/agent" OSTREL_NODE="$node" OSTREL_DEBUG_ROWS=1

kill -USR1 "$app"
check "SIGUSR1 shows the palette" wait_for 10 find_panel
check "the palette has focus" wait_for 5 is_active "$wid"
rows() { xprop -id "$wid" -notype _OSTREL_ROWS 2>/dev/null; }
rows_have() { rows | grep -qF -- "$1"; }
rows_match() { rows | grep -qE -- "$1"; }

xdotool type --delay 20 "12*89"
xdotool key Return
check "12*89 and Return shows 1068" wait_for 10 rows_have "1068"

xdotool type --delay 20 "set a timer for 3 seconds"
xdotool key Return
check "a timer shows a shimmering row with a stop button" wait_for 5 rows_match 'Timer[^|]*\|\|busy\|stop'

focus_other_window
check "focus moves to another window" wait_for 5 is_active "$other_wid"
check "the finished timer shows its outcome" wait_for 10 rows_have "|Timer finished|idle|-"
# Focus left while the timer ran: had the palette gone then, it would not
# be mapped now.
check "the palette stayed up while the timer ran" is_viewable "$wid"

# Back to the palette for a long timer, stopped with its button.
kill -USR1 "$app"; wait_for 5 is_unmapped "$wid"
kill -USR1 "$app"
check "summoned again with focus" wait_for 5 is_active "$wid"
xdotool type --delay 20 "set a timer for 60 seconds"
xdotool key Return
check "the long timer is running" wait_for 5 rows_have "|busy|stop"
IFS=, read -r px py pw _ <<<"$(geometry "$wid")"
# The newest task is the first row; its stop button ends 18 px from the right.
xdotool mousemove $((px + pw - 18 - 8)) $((py + 62 + 17)) click 1
check "the stop button cancels the task" wait_for 5 grep -q 'POST /cancel/[0-9a-f]* 200' "$work/daemon.log"
check "the row shows how it ended" wait_for 5 rows_have "|Stopped|idle|-" || echo "# rows: $(rows)"
check "no task row is busy any more" bash -c "! xprop -id $wid _OSTREL_ROWS | grep -qF '|busy|'"
check "ostrel is still running" kill -0 "$app"

stop_app
finish
