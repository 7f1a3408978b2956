#!/usr/bin/env bash
# Dictation with the bundled speech listener, a flite recording standing in
# for the microphone (OSTREL_LISTEN_WAV): the words heard fill the field,
# Return asks the agent and the answer comes back; quitting ends the listener.
#   dictation.sh PATH_TO_OSTREL   (run inside tests/xvfb-session.sh)
set -uo pipefail
source "$(dirname "$0")/lib.sh"
setup "$1"
node=$(command -v node) && command -v flite >/dev/null && command -v sox >/dev/null &&
    [ -x "$agent/voice/.venv/bin/python" ] ||
    { echo "dictation.sh: node, flite, sox or the listener venv is missing (scripts/install-deps.sh)" >&2; exit 1; }

# One of flite's 16 kHz voices, with the silence around it that a speaker leaves.
flite -voice slt -t "twelve times eighty nine" -o "$work/raw.wav"
sox "$work/raw.wav" "$work/speech.wav" pad 0.5 0.5
# No daemon: the reply script answers, and no task poll redraws the rows.
check "ostrel is ready" start_app OSTREL_REPO="$agent" OSTREL_NODE="$node" OSTREL_DEBUG_ROWS=1 \
    OSTREL_LISTEN_WAV="$work/speech.wav"
kill -USR1 "$app"
check "SIGUSR1 shows the palette with focus" wait_for 10 panel_focused
check "the recording is heard and waits for Return" \
    wait_for 30 rows_have "twelve times eighty nine|press return to ask|idle|-" || echo "# rows: $(rows)"
xdotool key Return
check "Return asks the agent: 1068" wait_for 15 rows_have "1068" || echo "# rows: $(rows)"

listener=$(pgrep -f "$agent/ostrel/listen.py" -P "$app" | head -n1)
check "the listener still runs" test -n "$listener"
stop_app
check "quitting ends the listener" wait_for 5 lacks kill -0 "$listener" 2>/dev/null
finish
