#!/usr/bin/env bash
# The X11 hot key under XWayland, with keys typed through the compositor:
# two hot-key cycles from an X application, then typing that application must
# receive (the keyboard is never left frozen); the keys typed right after a
# summon land in the palette, none in the window behind; natively, the
# palette is an overlay at its place and takes the keyboard.
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

check "starts through XWayland when asked to" start_app QT_QPA_PLATFORM=xcb
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

# Natively, as a Wayland client: an overlay above the tiles at the panel's
# place (centred across, 22 % down), with the keyboard, growing with its rows.
# The panel on screen as WIDTHxHEIGHT+X+Y: where the picture differs from its
# top-left corner; nothing when the screen is bare.
panel_box() {
    grim -t ppm - 2>/dev/null | /usr/bin/python3 -c '
import re, sys
data = sys.stdin.buffer.read()
head = re.match(rb"P6\s+(\d+)\s+(\d+)\s+\d+\s", data)
width, height = int(head[1]), int(head[2])
pixels = data[head.end():]
stride = width * 3
bare = pixels[:3] * width
rows = [y for y in range(height) if pixels[y * stride:(y + 1) * stride] != bare]
if rows:
    columns = [x for x in range(width) for y in rows if pixels[y * stride + 3 * x:y * stride + 3 * x + 3] != pixels[:3]]
    print("%dx%d+%d+%d" % (max(columns) - min(columns) + 1, rows[-1] - rows[0] + 1, min(columns), rows[0]))'
}
box_is() { [ "$(panel_box)" = "$1" ]; }
placed() { [[ "$(panel_box)" =~ ^680x([0-9]+)\+300\+176$ ]]; }
grown() { placed && [ "${BASH_REMATCH[1]}" -gt 114 ]; }
in_tree() { swaymsg -t get_tree | grep -q '"app_id": "ostrel"'; }
# Node as far as the palette knows: it notes what was asked and answers three rows.
cat > "$work/node" <<NODE
#!/bin/sh
printf '%s\n' "\$@" > "$work/asked"
echo '{"lines":[{"title":"one"},{"title":"two"},{"title":"three"}]}'
NODE
chmod +x "$work/node"
asked() { grep -qx "$1" "$work/asked" 2>/dev/null; }
# On a workspace of its own, away from the viewer.
swaymsg -q workspace native
check "starts natively by itself, the compositor having the layer shell" start_app OSTREL_REPO="$here/../../agent" OSTREL_NODE="$work/node"
check "and says so" log_has "the palette runs natively"
"$ostrel" --toggle
check "ostrel --toggle shows the palette centred across, 22 % down" wait_for 10 box_is 680x114+300+176
check "as an overlay, not a window of sway's tree" lacks in_tree
keys text:hello Return
check "the keys typed next are asked" wait_for 10 asked hello
check "and the palette grows with the answer's rows, in place" wait_for 10 grown
keys Escape
check "Escape hides it" wait_for 5 box_is ""
"$ostrel" --toggle
check "shown again at its place" wait_for 10 placed
keys Escape
check "with the keyboard again" wait_for 5 box_is ""
finish
