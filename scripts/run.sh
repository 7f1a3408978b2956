#!/usr/bin/env bash
# Installs what is missing, builds, and runs Ostrel with the bundled stand-in
# agent. Send SIGUSR1 to toggle the palette: pkill -USR1 -x ostrel
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${OSTREL_BUILD_DIR:-$root/build}

"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" "$build" -DOSTREL_TESTS=OFF -DOSTREL_BENCH=OFF

export OSTREL_REPO=${OSTREL_REPO:-$root/agent}
app=""
node "$root/agent/ostrel/daemon.mjs" &
daemon=$!
# The daemon lives exactly as long as the palette, and neither outlives this
# script, however it ends.
stop() {
    [ -n "$app" ] && kill "$app" 2>/dev/null
    kill "$daemon" 2>/dev/null
    wait 2>/dev/null || true
}
trap stop EXIT
trap 'exit 130' INT TERM
"$build/ostrel" &
app=$!
echo "ostrel: running as pid $app; toggle the palette with: kill -USR1 $app" >&2
wait "$app"
