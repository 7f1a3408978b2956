#!/usr/bin/env bash
# Summon latency, memory and idle wake-ups of the palette, measured from
# outside under a private Xvfb and openbox, beside dmenu's cold start, in a
# world of its own (tests/own-world.sh: its own /tmp and log file).
#   bench/summon.sh [SHOWS] [IDLE_SECONDS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
shows=${1:-50}
idle=${2:-30}
build=${OSTREL_BUILD_DIR:-$root/build-bench}

if [ -z "${DISPLAY:-}" ] || [ -z "${OSTREL_BENCH_INNER:-}" ]; then
    "$root/scripts/install-deps.sh" --bench
    "$root/scripts/build.sh" "$build" -DCMAKE_BUILD_TYPE=Release -DOSTREL_TESTS=OFF
    OSTREL_BENCH_INNER=1 OSTREL_BUILD_DIR=$build exec "$root/tests/own-world.sh" \
        "$root/tests/xvfb-session.sh" "$0" "$shows" "$idle"
fi

home=$(mktemp -d)
XDG_RUNTIME_DIR=$home "$build/ostrel" 2>/dev/null &
app=$!
trap 'kill $app 2>/dev/null; wait $app 2>/dev/null; rm -rf "$home"' EXIT
for _ in $(seq 100); do grep -qE " ready pid=$app\$" /tmp/ostrel-app.log 2>/dev/null && break; sleep 0.05; done

# Context switches per thread ("tid count" lines): each is a wake-up.
switches() {
    for task in /proc/"$app"/task/*; do
        echo "${task##*/} $(awk '/^(non)?voluntary_ctxt_switches/{s+=$2} END{print s}' "$task/status" 2>/dev/null)"
    done
}

echo "== summon latency ($shows shows), openbox on Xvfb 1920x1080"
"$build/bench/summon_probe" "$app" "$shows" 10 "$build/ostrel"
echo "== memory after all the shows"
grep -E '^VmRSS' /proc/"$app"/status
echo "== wake-ups while hidden, over ${idle} s"
sleep 1
switches > "$home/before"
sleep "$idle"
switches > "$home/after"
# Threads that ended meanwhile drop out; threads that started count in full.
awk 'NR==FNR {before[$1]=$2; next} {total += $2 - ($1 in before ? before[$1] : 0)}
     END {print "context switches: " total}' "$home/before" "$home/after"
echo "threads: $(wc -l < "$home/before") before, $(wc -l < "$home/after") after"
