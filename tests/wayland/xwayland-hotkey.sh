#!/usr/bin/env bash
# The X11 hot key under XWayland, with keys typed through the compositor:
# two hot-key cycles from an X application, then typing that application must
# receive (the keyboard is never left frozen); the keys typed right after a
# summon land in the palette, none in the window behind; natively, the
# palette floats above the tiles and takes the keyboard.
#   xwayland-hotkey.sh PATH_TO_OSTREL   (run inside tests/wayland/sway-session.sh)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../e2e/lib.sh"
setup "$1"
keys() { echo "$*" > "$WLKEYS"; }

start_viewer
viewer_focused() { [ "$(xdotool getwindowfocus 2>/dev/null)" = "$viewer_wid" ]; }
focus_viewer() { swaymsg -q "[class=\"^Xev\$\"] focus" 2>/dev/null || xdotool windowactivate "$viewer_wid"; wait_for 5 viewer_focused; }
# The field's text, copied with the compositor's keys.
field_has() { keys +Control_L a c -Control_L; [ "$(xclip -o -selection clipboard 2>/dev/null)" = "$1" ]; }

check "starts" start_app
# Space held until the palette has come or gone, as a hand does: XWayland
# then moves its keyboard focus while the hot key is down.
for cycle in 1 2; do
    keys +Alt_L +space
    check "cycle $cycle: a held Alt+Space maps the palette with the keyboard" wait_for 10 panel_focused
    keys -space -Alt_L +Alt_L +space
    check "cycle $cycle: Alt+Space held again hides it" wait_for 5 is_unmapped "$wid"
    keys -space -Alt_L
done
check "one toggle per press" test "$(toggles)" -eq 4
check "the viewer has the keyboard back" focus_viewer
keys text:hello
got_hello() { [ "$(viewer_got o)" -ge 1 ] && [ "$(viewer_got h)" -ge 1 ]; }
check "and typing reaches it: the keyboard is not frozen" wait_for 5 got_hello

# Keys typed right after a quick Alt+Space wait for the palette.
keys +Alt_L space -Alt_L text:qz
check "a quick Alt+Space maps the palette with the keyboard" wait_for 10 panel_focused
check "the keys typed after it land in the field" wait_for 5 field_has qz
check "none of them reached the viewer" test "$(viewer_got q)" -eq 0 -a "$(viewer_got z)" -eq 0
stop_app

# Natively, as a Wayland client: a window sway floats rather than tiles, at
# the panel's size, with the keyboard.
# "TYPE WIDTHxHEIGHT focused" for each of the palette's views in sway's tree.
native_views() {
    swaymsg -t get_tree -r | /usr/bin/python3 -c '
import json, sys
def walk(node):
    if node.get("app_id") == "ostrel":
        rect = node["rect"]
        print(node["type"], "%dx%d" % (rect["width"], rect["height"]), "focused" if node["focused"] else "")
    for child in node.get("nodes", []) + node.get("floating_nodes", []):
        walk(child)
walk(json.load(sys.stdin))'
}
native_panel() { [ "$(native_views)" = "floating_con 680x114 focused" ]; }
native_gone() { [ -z "$(native_views)" ]; }
check "starts natively" start_app QT_QPA_PLATFORM=wayland
"$ostrel" --toggle
check "ostrel --toggle shows a floating 680x114 palette with the keyboard" wait_for 10 native_panel
keys Escape
check "which takes the Escape typed next and hides" wait_for 5 native_gone
finish
