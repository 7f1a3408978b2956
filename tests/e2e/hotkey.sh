#!/usr/bin/env bash
# The hot key and the key monitors under a real X server: Alt+Space toggles
# once per press and once when held, the keys typed right after it land in
# the palette, a plain Space reaches the application it was typed into,
# OSTREL_HOTKEY picks the modifier, and ostrel --toggle and the single
# instance work. Also a SIGUSR1 sent while the program starts.
#   hotkey.sh PATH_TO_OSTREL   (run inside tests/xvfb-session.sh)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
setup "$1"

# A window of another application that reports every key it receives.
xev -name viewer -geometry 400x200+50+50 -event keyboard > "$work/viewer" 2>/dev/null &
helpers+=($!)
find_viewer() { viewer_wid=$(xdotool search --onlyvisible --name '^viewer$' 2>/dev/null | head -n1); [ -n "$viewer_wid" ]; }
wait_for 10 find_viewer
focus_viewer() { xdotool windowactivate --sync "$viewer_wid" 2>/dev/null; wait_for 5 is_active "$viewer_wid"; }
viewer_got() { grep -c "keysym 0x[0-9a-f]*, $1)" "$work/viewer"; }

check "starts with the hot key registered" start_app
check "start-up steps log in order" diff <(messages | head -n4) <(printf '%s\n' \
    "handler status=0" "hotkey option-space status=0" "accessibility trusted=true" "ready pid=$app")

# Keys typed right after the hot key wait for the palette instead of going
# to the window that had focus.
focus_viewer
xdotool key alt+space type --delay 15 qz
check "Alt+Space maps the palette" wait_for 10 find_panel
check "the palette has focus" wait_for 5 is_active "$wid"
check "the keys typed after the hot key landed in the field" wait_for 5 field_shows qz
check "none of them reached the other window" test "$(viewer_got q)" -eq 0 -a "$(viewer_got z)" -eq 0
check "one press, one toggle" test "$(toggles)" -eq 1

xdotool key alt+space
check "Alt+Space again unmaps it" wait_for 5 is_unmapped "$wid"
check "one toggle per press" test "$(toggles)" -eq 2
check "each hot-key press logs one match line" test "$(grep -c 'space keydown flags=524288 match=true' "$log_copy")" -eq 2

# The hold is the test's input: the key repeats meanwhile. Escape after it
# is handled after every repeat, so the count is final once it has hidden.
xdotool keydown alt+space; sleep 1.2; xdotool keyup space; xdotool keyup alt
check "a held Alt+Space toggles" wait_for 5 is_viewable "$wid"
xdotool key Escape
wait_for 5 is_unmapped "$wid"
check "and only once" test "$(toggles)" -eq 3

# A plain Space typed into another application: logged, not a match, and
# not taken from that application.
focus_viewer
before=$(viewer_got space)
xdotool key space
space_reached() { [ "$(viewer_got space)" -gt "$before" ]; }
check "a plain Space reaches the other application" wait_for 5 space_reached
check "and is logged with match=false" wait_for 5 log_has "space keydown flags=0 match=false"
check "without a toggle" test "$(toggles)" -eq 3

# ostrel --toggle and the single instance.
check "--toggle shows the running palette" "$ostrel" --toggle
check "through a toggle" wait_for 5 is_viewable "$wid"
"$ostrel" >"$work/second.out" 2>&1
check "a second instance exits 1" test $? -eq 1
check "saying that one runs" grep -qF "already running (pid $app)" "$work/second.out"
check "and leaves the first alone" kill -0 "$app"
stop_app
"$ostrel" --toggle 2>"$work/toggle.err"
check "--toggle without an instance exits 1" test $? -eq 1
check "saying so" grep -qF "no running ostrel" "$work/toggle.err"

# OSTREL_HOTKEY=control-space takes Ctrl+Space, and Alt+Space is then just
# a key press.
check "starts with control-space" start_app OSTREL_HOTKEY=control-space
check "logs control-space registered" log_has "hotkey control-space status=0"
focus_viewer
xdotool key alt+space
check "Alt+Space is logged as no match" wait_for 5 log_has "space keydown flags=524288 match=false"
check "and does not toggle" test "$(toggles)" -eq 0
xdotool key ctrl+space
check "Ctrl+Space toggles" wait_for 10 find_panel
stop_app

# SIGUSR1 while the program starts: once it talks to the X server it is past
# its first line of main, yet long before its triggers are installed.
mark_log
"$ostrel" 2>>"$work/stderr" &
app=$!
has_socket() { ls -l /proc/"$app"/fd 2>/dev/null | grep -q 'socket:'; }
wait_for 20 has_socket
kill -USR1 "$app"
check "a SIGUSR1 during start-up does not end the process" wait_for 20 is_ready
toggled_after_ready() { messages | sed -n "/^ready pid=$app\$/,\$p" | grep -qx 'toggle, visible=false'; }
check "nor is it lost: it toggles after ready" wait_for 5 toggled_after_ready
stop_app

finish
