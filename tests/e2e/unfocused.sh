#!/usr/bin/env bash
# The hot key freezes the keyboard until the palette has it, so that the keys
# typed after it land there. When the window manager never gives the palette
# the keyboard, the keyboard must come back to the others on its own.
#   unfocused.sh PATH_TO_OSTREL   (run inside tests/xvfb-session.sh --wm-config none)
set -uo pipefail
source "$(dirname "$0")/lib.sh"
setup "$1"

# A window manager that announces activation requests and then ignores every
# one: Qt asks it to focus the palette instead of focusing it itself.
xprop -root -f _NET_SUPPORTED 32a -set _NET_SUPPORTED _NET_ACTIVE_WINDOW
start_viewer
xdotool windowfocus --sync "$viewer_wid"

check "starts" start_app
xdotool key alt+space
check "Alt+Space maps the palette" wait_for 10 find_panel
xdotool type --delay 15 ok
got_k() { [ "$(viewer_got k)" -gt 0 ]; }
check "the keys typed after it reach the window that kept the focus" wait_for 5 got_k
finish
