#!/usr/bin/env bash
# What tests/own-world.sh promises: another Ostrel's listener on this machine
# and its files in /tmp are beyond a test's sight and reach, the test's home
# is its own, what it leaves running ends with it, and its status is kept.
#   world.sh   (run as it is, outside any test's world)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
world=$here/../own-world.sh

# A file in this machine's /tmp, and a process whose command line looks like
# another Ostrel's listener; the file's name tells ours from anyone else's.
outside=$(mktemp /tmp/ostrel-world.XXXXXX)
bash -c 'exec -a "$0" sleep 600' "elsewhere/ostrel/listen.py $outside" &
decoy=$!
trap 'kill "$decoy" 2>/dev/null; wait "$decoy" 2>/dev/null; rm -f "$outside"' EXIT

"$world" true
case $? in
    0) ;;
    77) echo "world: SKIPPED, no world of its own can be made here (see above)"; exit 77 ;;
    *) echo "not ok - own-world.sh runs a command"; exit 1 ;;
esac

inside() {
    "$world" bash -c '
        pkill -f "ostrel/listen.py $1"
        [ ! -e "$1" ] && echo inside > "$1" && [ "$HOME" != "$2" ] && [ -d "$HOME" ] || exit 1
        exec -a "left/behind/by $1" sleep 600 &' - "$outside" "$HOME"
}
check "inside, this machine's /tmp is not seen and the home is another" inside
check "the listener clean-up inside does not reach a listener outside" kill -0 "$decoy"
check "what a test writes to /tmp stays in its world" test ! -s "$outside"
check "what a test leaves running ends with it" lacks pgrep -f "left/behind/by $outside"
fails_with() { "$world" sh -c "exit $1"; [ $? -eq "$1" ]; }
check "a failing test fails through it" fails_with 3
finish
