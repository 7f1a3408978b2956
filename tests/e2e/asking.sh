#!/usr/bin/env bash
# Asking the bundled agent through the whole program: a typed sum comes back
# as a row, and a timer as a shimmering task row until it ends.
#   asking.sh PATH_TO_OSTREL   (run inside tests/xvfb-session.sh)
set -uo pipefail
source "$(dirname "$0")/lib.sh"
setup "$1"
node=$(command -v node) || { echo "asking.sh: node is not installed (scripts/install-deps.sh)" >&2; exit 1; }

"$node" "$agent/ostrel/daemon.mjs" 2>"$work/daemon.log" &
helpers+=($!)
check "the bundled agent publishes its daemon file" wait_for 20 test -s "$HOME/.ostrel/daemon.json"
check "ostrel is ready" start_app OSTREL_REPO="$agent" OSTREL_NODE="$node" OSTREL_DEBUG_ROWS=1
kill -USR1 "$app"
check "SIGUSR1 shows the palette with focus" wait_for 10 panel_focused
ask() { xdotool type --delay 20 "$1"; xdotool key Return; }

ask "12*89"
check "12*89 and Return shows 1068" wait_for 10 rows_have "1068"
ask "set a timer for 3 seconds"
timer_busy() { rows | grep -qE 'Timer[^|]*\|[^|]* left\|busy\|stop'; }
check "a timer shows a shimmering row with the time left and a stop button" wait_for 5 timer_busy
check "the finished timer shows its outcome" wait_for 10 rows_have "|Timer finished|idle|-"
finish
