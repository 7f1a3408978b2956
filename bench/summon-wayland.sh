#!/usr/bin/env bash
# Summon latency under a headless Wayland compositor (sway), through
# XWayland and natively, beside the same on Xvfb with openbox: SIGUSR1 (what
# `ostrel --toggle` sends) to the palette mapped and painted, measured by
# bench/summon_probe through the X server; natively, `ostrel --toggle` to the
# palette's first frame committed (bench/native_toggle.py).
#   bench/summon-wayland.sh [SHOWS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
shows=${1:-50}
build=${OSTREL_BUILD_DIR:-$root/build-bench}

if [ -z "${OSTREL_BENCH_INNER:-}" ]; then
    "$root/scripts/install-deps.sh" --bench --test
    "$root/scripts/build.sh" "$build" -DCMAKE_BUILD_TYPE=Release -DOSTREL_TESTS=OFF
    export OSTREL_BENCH_INNER=1 OSTREL_BUILD_DIR=$build
    echo "== Xvfb 1920x1080 with openbox"
    "$root/tests/xvfb-session.sh" "$0" x11 "$shows"
    echo "== sway 1280x800 (headless), XWayland"
    "$root/tests/wayland/sway-session.sh" - "$0" x11 "$shows"
    echo "== sway 1280x800 (headless), native Wayland"
    "$root/tests/wayland/sway-session.sh" - "$0" native "$shows"
    exit
fi

mode=$1 shows=$2
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export XDG_RUNTIME_DIR=$home
if [ "$mode" = native ]; then
    "$root/bench/native_toggle.py" "$build/ostrel" "$shows"
    exit
fi
QT_QPA_PLATFORM=xcb "$build/ostrel" 2>/dev/null &
app=$!
trap 'kill $app 2>/dev/null; wait $app 2>/dev/null; rm -rf "$home"' EXIT
for _ in $(seq 200); do grep -qE " ready pid=$app\$" /tmp/ostrel-app.log 2>/dev/null && break; sleep 0.05; done
"$build/bench/summon_probe" "$app" "$shows" 0
