#!/usr/bin/env bash
# Dictation through the whole program with the bundled speech listener: a
# recording made here with flite stands in for the microphone
# (OSTREL_LISTEN_WAV); the words heard fill the field, Return asks the agent,
# and the answer row comes back. Switching voice off with the orb ends the
# listener, and so does quitting.
#   dictation.sh PATH_TO_OSTREL   (run inside tests/xvfb-session.sh)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
source "$here/lib.sh"
ostrel=$1
: "${DISPLAY:?run inside tests/xvfb-session.sh}"
node=$(command -v node) || { echo "dictation.sh: node is not installed (scripts/install-deps.sh)" >&2; exit 1; }
command -v flite >/dev/null && command -v sox >/dev/null || { echo "dictation.sh: flite or sox is not installed (scripts/install-deps.sh)" >&2; exit 1; }
[ -x "$root/agent/voice/.venv/bin/python" ] || { echo "dictation.sh: no listener venv (scripts/install-deps.sh)" >&2; exit 1; }

work=$(mktemp -d)
app=""
cleanup() {
    [ -n "$app" ] && kill "$app" 2>/dev/null && wait "$app" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/home"
# One of flite's 16 kHz voices, with the silence around it that a speaker leaves.
flite -voice slt -t "twelve times eighty nine" -o "$work/raw.wav"
sox "$work/raw.wav" "$work/speech.wav" pad 0.5 0.5
logfile=/tmp/ostrel-app.log
start=$(wc -l <"$logfile" 2>/dev/null || echo 0)
log_since() { tail -n +"$((start + 1))" "$logfile" | grep -qF -- "$1"; }
# No daemon: the reply script answers, and no task poll redraws the rows.
HOME=$work/home OSTREL_REPO=$root/agent OSTREL_NODE=$node OSTREL_DEBUG_ROWS=1 \
    OSTREL_LISTEN_WAV=$work/speech.wav "$ostrel" 2>"$work/stderr" &
app=$!
ready() { tail -n +"$((start + 1))" "$logfile" | grep -qE " ready pid=$app\$"; }
check "ostrel is ready" wait_for 20 ready

kill -USR1 "$app"
wid=""
find_panel() { wid=$(xdotool search --onlyvisible --classname '^ostrel$' 2>/dev/null | head -n1); [ -n "$wid" ]; }
check "SIGUSR1 shows the palette" wait_for 10 find_panel
rows() { xprop -id "$wid" -notype _OSTREL_ROWS 2>/dev/null; }
rows_have() { rows | grep -qF -- "$1"; }
listeners() { pgrep -f "$root/agent/ostrel/listen.py" -P "$app"; }
check "the listener is started" wait_for 10 log_since "dictation started"
check "the recording is heard and waits for Return" \
    wait_for 30 rows_have "twelve times eighty nine|press return to ask|idle|-" || echo "# rows: $(rows)"
check "the palette has focus" wait_for 5 is_active "$wid"
xdotool key Return
check "Return asks the agent: 1068" wait_for 15 rows_have "1068" || echo "# rows: $(rows)"

# The orb sits at the end of the field: 22 px from the right, field centre.
IFS=, read -r px py pw _ <<<"$(geometry "$wid")"
xdotool mousemove $((px + pw - 22 - 11)) $((py + 33)) click 1
check "a click on the orb stops dictation" wait_for 5 log_since "dictation stopped"
check "the listener is gone" wait_for 5 bash -c "! pgrep -f '$root/agent/ostrel/listen.py' -P $app"
xdotool mousemove $((px + pw - 22 - 11)) $((py + 33)) click 1
check "a second click starts a new one" wait_for 10 bash -c "[ \$(tail -n +$((start + 1)) $logfile | grep -c 'dictation started') -eq 2 ]"
listener=$(pgrep -f "$root/agent/ostrel/listen.py" -P "$app" | head -n1)
check "it runs" test -n "$listener"
check "no listener error was logged" bash -c "! tail -n +$((start + 1)) $logfile | grep -F 'dictation: '"

kill "$app"; wait "$app" 2>/dev/null; app=""
check "quitting ends the listener" wait_for 5 bash -c "! kill -0 $listener 2>/dev/null"
finish
