#!/usr/bin/env bash
# Runs a command in a private X session, Xvfb (1920x1080) with openbox, both
# ended with the command whatever its outcome; with "--wm-config none", no
# window manager at all.
#   tests/xvfb-session.sh [--wm-config FILE|none] command [args...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/e2e/lib.sh"
wm_config=$here/e2e/openbox-rc.xml
if [ "${1:-}" = "--wm-config" ]; then wm_config=$2; shift 2; fi

session=$(mktemp -d)
pids=()
cleanup() {
    kill "${pids[@]}" 2>/dev/null || true
    wait "${pids[@]}" 2>/dev/null || true
    rm -rf "$session"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Xvfb picks a free display itself and writes its number to the fd we give.
exec 3> "$session/display"
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp -noreset >"$session/xvfb.log" 2>&1 &
pids+=($!)
exec 3>&-
wait_for 10 test -s "$session/display" ||
    { echo "xvfb-session: Xvfb did not start (scripts/install-deps.sh --test)" >&2; cat "$session/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$session/display")"

if [ "$wm_config" != none ]; then
    openbox --config-file "$wm_config" >"$session/openbox.log" 2>&1 &
    pids+=($!)
    # Openbox owns the WM_S0 selection once it manages the screen.
    wm_ready() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
    wait_for 10 wm_ready || true
fi
# Under set -e its status is the script's.
"$@"
