# Helpers for the end-to-end tests, sourced: counted checks, waiting, window
# state from the X server, and one ostrel with its own home and slice of the log.
passed=0 failed=0
agent=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../agent" && pwd) # the bundled agent
check() { # check DESCRIPTION COMMAND...
    local what=$1; shift
    if "$@"; then passed=$((passed + 1)); echo "ok - $what"; return; fi
    failed=$((failed + 1)); echo "not ok - $what"; return 1
}
finish() { echo "$passed passed, $failed failed"; [ "$failed" -eq 0 ]; }
lacks() { ! "$@"; }
# wait_for SECONDS COMMAND...: polls every 50 ms until the command succeeds.
wait_for() {
    local deadline=$(( $(date +%s%N) + ${1%.*} * 1000000000 )); shift
    until "$@"; do
        [ "$(date +%s%N)" -ge "$deadline" ] && return 1
        sleep 0.05
    done
}

# Without an id, xwininfo waits for a click instead of failing.
is_viewable() { [ -n "$1" ] && xwininfo -id "$1" 2>/dev/null | grep -q 'Map State: IsViewable'; }
is_unmapped() { [ -n "$1" ] && xwininfo -id "$1" 2>/dev/null | grep -q 'Map State: IsUnMapped'; }
# The window manager's idea and the X server's input focus both, since the
# former may still name a window that was just withdrawn.
is_active() {
    [ "$(printf '%d' "$(xprop -root _NET_ACTIVE_WINDOW | awk '{print $NF}')" 2>/dev/null)" = "$1" ] &&
        [ "$(xdotool getwindowfocus 2>/dev/null)" = "$1" ]
}

# setup PATH_TO_OSTREL: a private work folder, home and runtime directory,
# removed with every process the test started when the script ends.
setup() {
    ostrel=$1
    : "${DISPLAY:?run inside tests/xvfb-session.sh}"
    work=$(mktemp -d)
    app=""; helpers=()
    trap teardown EXIT
    export XDG_RUNTIME_DIR=$work/run HOME=$work/home OSTREL_REPO=$work/no-agent
    mkdir -m 700 "$XDG_RUNTIME_DIR" "$HOME"
    logfile=/tmp/ostrel-app.log
    log_copy=$work/log
}
teardown() {
    local pid
    for pid in "${helpers[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
    stop_app
    rm -rf "$work"
}

# The log as written since mark_log, in $log_copy; messages without the stamp.
mark_log() { log_start=$( [ -f "$logfile" ] && stat -c %s "$logfile" || echo 0 ); }
refresh_log() { tail -c +"$((log_start + 1))" "$logfile" > "$log_copy" 2>/dev/null || : > "$log_copy"; }
log_has() { refresh_log; grep -qF -- "$1" "$log_copy"; }
messages() { refresh_log; sed -E 's/^[0-9-]+ [0-9:]+ \+0000 //' "$log_copy"; }
toggles() { refresh_log; grep -c 'toggle, visible=' "$log_copy"; }

# start_app [env arguments...]: starts ostrel, waits for its ready line.
launch() { mark_log; env "$@" "$ostrel" 2>>"$work/stderr" & app=$!; }
start_app() { launch "$@"; wait_for 20 is_ready; }
# The app's own ready line, written since mark_log: the whole pid, not a
# prefix of another's, and not an earlier process's that had the same pid.
is_ready() { refresh_log; grep -qE " ready pid=$app\$" "$log_copy"; }
stop_app() { [ -n "$app" ] && kill "$app" 2>/dev/null && wait "$app" 2>/dev/null; app=""; }

# The palette's window, once mapped, in $wid; its rows (OSTREL_DEBUG_ROWS).
find_panel() { wid=$(xdotool search --onlyvisible --classname '^ostrel$' 2>/dev/null | head -n1); [ -n "$wid" ]; }
panel_focused() { find_panel && is_active "$wid"; }
rows() { xprop -id "$wid" -notype _OSTREL_ROWS 2>/dev/null; }
rows_have() { rows | grep -qF -- "$1"; }

# Another application's window that reports every key it receives, in
# $viewer_wid; how many presses of a key (by name) it got.
start_viewer() {
    xev -name viewer -geometry 400x200+50+50 -event keyboard > "$work/viewer" 2>/dev/null &
    helpers+=($!)
    find_viewer() { viewer_wid=$(xdotool search --onlyvisible --name '^viewer$' 2>/dev/null | head -n1); [ -n "$viewer_wid" ]; }
    wait_for 10 find_viewer
}
viewer_got() { grep -c "keysym 0x[0-9a-f]*, $1)" "$work/viewer"; }

# Another application's window, focused.
focus_other_window() {
    xmessage -name other -geometry 300x100+50+50 "another window" &
    helpers+=($!)
    find_other() { other_wid=$(xdotool search --onlyvisible --classname '^other$' 2>/dev/null | head -n1); [ -n "$other_wid" ]; }
    wait_for 10 find_other && xdotool windowactivate "$other_wid" 2>/dev/null && wait_for 5 is_active "$other_wid"
}
# The field's text, through the clipboard: select all and copy.
field_shows() { xdotool key ctrl+a ctrl+c && [ "$(xclip -o -selection clipboard 2>/dev/null)" = "$1" ]; }
