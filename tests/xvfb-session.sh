#!/usr/bin/env bash
# Runs a command inside a private X session: Xvfb on a free display with a
# 1920x1080 screen, and openbox as the window manager. Both end with the
# command, whatever its outcome.
#   tests/xvfb-session.sh [--wm-config FILE] command [args...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
wm_config=$here/e2e/openbox-rc.xml
if [ "${1:-}" = "--wm-config" ]; then wm_config=$2; shift 2; fi

for tool in Xvfb openbox; do
    command -v "$tool" >/dev/null 2>&1 || { echo "xvfb-session: $tool is not installed (scripts/install-deps.sh --test)" >&2; exit 1; }
done

session=$(mktemp -d)
xvfb_pid=""; wm_pid=""
cleanup() {
    [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    [ -n "$wm_pid" ] && wait "$wm_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && wait "$xvfb_pid" 2>/dev/null || true
    rm -rf "$session"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Xvfb picks a free display itself and writes its number to the fd we give.
exec 3> "$session/display"
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp -noreset >"$session/xvfb.log" 2>&1 &
xvfb_pid=$!
exec 3>&-
for _ in $(seq 100); do
    [ -s "$session/display" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || { cat "$session/xvfb.log" >&2; exit 1; }
    sleep 0.1
done
[ -s "$session/display" ] || { echo "xvfb-session: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$session/display")"

openbox --config-file "$wm_config" >"$session/openbox.log" 2>&1 &
wm_pid=$!
# Openbox owns the WM_S0 selection once it manages the screen.
for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.1
done

set +e
"$@"
status=$?
set -e
exit $status
