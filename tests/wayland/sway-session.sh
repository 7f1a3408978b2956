#!/usr/bin/env bash
# Runs a command in a private headless Wayland session: sway (1280x800, no
# GPU, no input devices) with XWayland, and a virtual keyboard that types
# what is written to $WLKEYS (see wlkeys.c). Sway refuses to run as root, so
# root runs it as nobody, in a session folder of its own; everything started
# here ends with the command, whatever its outcome.
#   tests/wayland/sway-session.sh PATH_TO_WLKEYS|- command [args...]
# The command sees WAYLAND_DISPLAY (a full path), DISPLAY (XWayland's),
# SWAYSOCK and, unless the key sender is "-", WLKEYS.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../e2e/lib.sh"
wlkeys=$1; shift

session=$(mktemp -d)
chmod 755 "$session"
pids=()
cleanup() {
    exec 4>&- 2>/dev/null || true
    kill "${pids[@]}" 2>/dev/null || true
    wait "${pids[@]}" 2>/dev/null || true
    rm -rf "$session"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

as_sway_user=()
mkdir -m 700 "$session/run"
if [ "$(id -u)" -eq 0 ]; then
    as_sway_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
    chown nobody "$session/run"
fi
# XWayland runs as sway's user and lets ours in; sway writes its display
# here then.
mkdir -m 777 "$session/out"
cat > "$session/config" <<CONFIG
xwayland force
output HEADLESS-1 resolution 1280x800 position 0 0
# A key held while the machine is slow must not repeat.
input type:keyboard repeat_delay 60000
default_border pixel 1
exec sh -c 'xhost +si:localuser:$(id -un) && echo "\$DISPLAY" > $session/out/display.new && mv $session/out/display.new $session/out/display'
CONFIG
chmod 644 "$session/config"
env -i PATH="$PATH" HOME="$session/out" XDG_RUNTIME_DIR="$session/run" \
    WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
    "${as_sway_user[@]}" sway -c "$session/config" >"$session/sway.log" 2>&1 &
pids+=($!)
wait_for 20 test -s "$session/out/display" ||
    { echo "sway-session: sway did not start (scripts/install-deps.sh --test)" >&2; tail -20 "$session/sway.log" >&2; exit 1; }
export WAYLAND_DISPLAY=$session/run/wayland-1 DISPLAY=$(cat "$session/out/display")
export SWAYSOCK=$(ls "$session"/run/sway-ipc.*.sock)
x_ready() { xprop -root >/dev/null 2>&1; }
wait_for 20 x_ready ||
    { echo "sway-session: XWayland did not start on $DISPLAY" >&2; tail -20 "$session/sway.log" >&2; exit 1; }

if [ "$wlkeys" != - ]; then
    export WLKEYS=$session/keys
    mkfifo "$WLKEYS"
    "$wlkeys" < "$WLKEYS" > "$session/wlkeys.out" &
    pids+=($!)
    # Held open so that the key sender reads until the session ends.
    exec 4> "$WLKEYS"
    wait_for 10 grep -q ready "$session/wlkeys.out" ||
        { echo "sway-session: the virtual keyboard did not start" >&2; exit 1; }
fi
"$@"
