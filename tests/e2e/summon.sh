#!/usr/bin/env bash
# Summoning by SIGUSR1 under a real X server and window manager: where the
# palette sits, how it is marked, typing, Escape and focus moving away.
#   summon.sh PATH_TO_OSTREL   (run inside tests/xvfb-session.sh)
set -uo pipefail
source "$(dirname "$0")/lib.sh"
setup "$1"

check "logs ready with its pid" start_app

kill -USR1 "$app"
check "SIGUSR1 maps the palette with focus" wait_for 10 panel_focused
placed() { xwininfo -id "$wid" | grep -qzE 'upper-left X: +620.*upper-left Y: +237.*Width: 680\s.*Height: 114\s'; }
check "palette sits centred, 22% down: 620,237 680x114" wait_for 5 placed
marked() { [ "$(xprop -id "$wid" | grep -oE 'SKIP_TASKBAR|SKIP_PAGER|DESKTOP\(CARDINAL\) = 4294967295' | sort -u | wc -l)" = 3 ]; }
check "skips taskbar and pager, shows on every desktop" marked

xdotool key Escape
check "Escape unmaps the palette" wait_for 5 is_unmapped "$wid"
kill -USR1 "$app"
check "SIGUSR1 shows it again, with focus" wait_for 5 panel_focused
check "it is marked again after being withdrawn" wait_for 5 marked
xdotool type "x"
check "the key typed right after summoning lands" wait_for 5 field_shows x
focus_other_window
check "losing focus hides the palette" wait_for 5 is_unmapped "$wid"

# A window manager late with the withdrawal handles it only after the panel
# was marked and mapped again, and drops the marks then: they must come back.
# Every write of the desktop mark prints one line of the spy.
kill -USR1 "$app"
wait_for 5 panel_focused
xprop -spy -id "$wid" -notype _NET_WM_DESKTOP > "$work/desktop" 2>/dev/null &
helpers+=($!)
spied() { [ "$(wc -l < "$work/desktop")" -ge "$1" ]; }
wait_for 5 spied 1
wm=$(xprop -root -notype _OPENBOX_PID | awk '{print $NF}')
kill -STOP "$wm"
xdotool key Escape
wait_for 5 is_unmapped "$wid"
kill -USR1 "$app"
wait_for 5 spied 2
kill -CONT "$wm"
check "a window manager late with the withdrawal leaves it marked" \
    wait_for 5 eval 'is_viewable "$wid" && marked'
finish
