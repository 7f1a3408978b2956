#!/usr/bin/env bash
# The hot key under a real X server: once per press and once when held, the
# keys typed after it (and rolled into it) land in the palette, a plain Space
# reaches the other application; ostrel --toggle, the single instance,
# SIGUSR1 during start-up.
#   hotkey.sh PATH_TO_OSTREL   (run inside tests/xvfb-session.sh)
set -uo pipefail
source "$(dirname "$0")/lib.sh"
setup "$1"

start_viewer
focus_viewer() { xdotool windowactivate --sync "$viewer_wid" 2>/dev/null; wait_for 5 is_active "$viewer_wid"; }

check "starts" start_app
# The keyboard waits for the palette for half a second at most: a first show
# slowed by the sanitizers on a busy machine can take longer. Counted from
# here on.
kill -USR1 "$app"
wait_for 20 panel_focused && xdotool key Escape && wait_for 5 is_unmapped "$wid"
mark_log

# Keys typed right after the hot key wait for the palette instead of going
# to the window that had focus.
focus_viewer
xdotool key alt+space type --delay 15 qz
check "Alt+Space maps the palette with focus" wait_for 10 panel_focused
check "the keys typed after the hot key landed in the field" wait_for 5 field_shows qz
check "none of them reached the other window" test "$(viewer_got q)" -eq 0 -a "$(viewer_got z)" -eq 0
xdotool key alt+space
check "Alt+Space again unmaps it" wait_for 5 is_unmapped "$wid"
check "one toggle and one match line per press" \
    test "$(toggles)" -eq 2 -a "$(grep -c 'space keydown flags=524288 match=true' "$log_copy")" -eq 2

# Rolled keys: Alt let go, then a letter pressed, before Space is released.
focus_viewer
xdotool keydown alt+space keyup alt key w keyup space type e
check "a letter pressed before Space is let go lands in the field" wait_for 5 field_shows we
check "and not in the other window" test "$(viewer_got w)" -eq 0
xdotool key Escape
wait_for 5 is_unmapped "$wid"

# The hold is the test's input: the key repeats meanwhile. Escape after it
# is handled after every repeat, so the count is final once it has hidden.
xdotool keydown alt+space; sleep 1.2; xdotool keyup space; xdotool keyup alt
check "a held Alt+Space toggles" wait_for 5 is_viewable "$wid"
xdotool key Escape
wait_for 5 is_unmapped "$wid"
check "and only once" test "$(toggles)" -eq 4

# With Caps Lock or Num Lock on, the hot key is still taken from the window
# that has focus, not only observed there; the logged flags show the lock on.
# Keys reach that window in order: once a later key has, so would the Space.
space_reached() { [ "$(viewer_got space)" -gt "$before" ]; }
marked() { [ "$(viewer_got m)" -gt "$marks" ]; }
space_kept() { wait_for 5 marked && ! space_reached; }
for lock in Caps_Lock:589824 Num_Lock:2621440; do
    focus_viewer
    before=$(viewer_got space) marks=$(viewer_got m)
    xdotool key "${lock%:*}" alt+space "${lock%:*}"
    check "with ${lock%:*} on, Alt+Space maps the palette with focus" wait_for 5 panel_focused
    check "and is logged as a match with the lock's flag" wait_for 5 log_has "space keydown flags=${lock#*:} match=true"
    xdotool key Escape
    wait_for 5 is_unmapped "$wid" && focus_viewer && xdotool key m
    check "and its Space never reached the other window" space_kept
done

# A plain Space typed into another application: not taken from it, and not
# logged. Shift+Space after it is, once the monitor has seen both.
focus_viewer
before=$(viewer_got space)
xdotool key space shift+space
check "a plain Space reaches the other application" wait_for 5 space_reached
check "Space with a modifier is logged, with match=false" wait_for 5 log_has "space keydown flags=131072 match=false"
check "a plain Space is not logged" lacks log_has "space keydown flags=0 "

toggled_on() { "$ostrel" --toggle && wait_for 5 is_viewable "$wid"; }
check "--toggle shows the running palette" toggled_on
exits_1_saying() { local out; out=$("$ostrel" "${@:2}" 2>&1); [ $? -eq 1 ] && grep -qF "$1" <<<"$out"; }
check "a second instance exits 1, saying that one runs" exits_1_saying "already running (pid $app)"
stop_app
check "--toggle without an instance exits 1 and says so" exits_1_saying "no running ostrel" --toggle

# SIGUSR1 while the program starts: as soon as the ostrel command has held
# it back (from its first instructions on; before them, between the exec and
# the first instruction, only the starting program's parent could), as soon
# as that command has become the palette and loads its libraries, and once
# the palette talks to the X server, long before its triggers are installed.
toggled_after_ready() { messages | sed -n "/^ready pid=$app\$/,\$p" | grep -qx 'toggle, visible=false'; }
held_back() { local line; while read -r line; do
    [[ $line == SigBlk:* ]] && (( 0x${line##*[[:space:]]} >> 9 & 1 )) && return; done < /proc/"$app"/status 2>/dev/null; return 1; }
became_palette() { [[ $(readlink /proc/"$app"/exe 2>/dev/null) == */libexec/ostrel/ostrel ]]; }
has_socket() { ls -l /proc/"$app"/fd 2>/dev/null | grep -q 'socket:'; }
# Polled without pause, each moment being short, for 20 s at most.
poll_for() { local end=$(( ${EPOCHREALTIME/./} + 20000000 ));
    until "$1"; do (( ${EPOCHREALTIME/./} < end )) || return 1; done; }
for moment in held_back became_palette has_socket; do
    launch
    poll_for "$moment"
    kill -USR1 "$app"
    check "a SIGUSR1 at start-up ($moment) is neither fatal nor lost: it toggles after ready" wait_for 20 toggled_after_ready
    stop_app
done
finish
