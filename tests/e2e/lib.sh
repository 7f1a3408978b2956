# Helpers for the end-to-end tests: checks that count, waiting, reading
# window state from the X server, and one running ostrel with its own home,
# runtime directory and slice of the log. Sourced, not run.

passed=0
failed=0

check() { # check DESCRIPTION COMMAND...
    local what=$1; shift
    if "$@"; then
        passed=$((passed + 1)); echo "ok - $what"
    else
        failed=$((failed + 1)); echo "not ok - $what"
        return 1
    fi
}

finish() {
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ]
}

# wait_for SECONDS COMMAND...: polls every 50 ms until the command succeeds.
wait_for() {
    local deadline=$(( $(date +%s%N) + ${1%.*} * 1000000000 )); shift
    until "$@"; do
        [ "$(date +%s%N)" -ge "$deadline" ] && return 1
        sleep 0.05
    done
}

map_state() { xwininfo -id "$1" 2>/dev/null | sed -n 's/.*Map State: //p'; }
is_viewable() { [ "$(map_state "$1")" = "IsViewable" ]; }
is_unmapped() { [ "$(map_state "$1")" = "IsUnMapped" ]; }
geometry() { # x,y,w,h of the client area on the root window
    xwininfo -id "$1" | awk '/Absolute upper-left X/{x=$NF} /Absolute upper-left Y/{y=$NF}
        /^ *Width/{w=$NF} /^ *Height/{h=$NF} END{print x","y","w","h}'
}
active_window() { printf '%d' "$(xprop -root _NET_ACTIVE_WINDOW | awk '{print $NF}')" 2>/dev/null; }
# The window manager's idea and the X server's input focus both, since the
# former may still name a window that was just withdrawn.
is_active() { [ "$(active_window)" = "$1" ] && [ "$(xdotool getwindowfocus 2>/dev/null)" = "$1" ]; }

# setup PATH_TO_OSTREL: a private work folder, home and runtime directory
# (never another test's or user's ostrel), removed with every process the
# test started when the script ends.
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
    [ -n "$app" ] && kill "$app" 2>/dev/null && wait "$app" 2>/dev/null
    rm -rf "$work"
}

# The log as written since mark_log, in $log_copy; messages without the stamp.
mark_log() { log_start=$( [ -f "$logfile" ] && stat -c %s "$logfile" || echo 0 ); }
refresh_log() { tail -c +"$((log_start + 1))" "$logfile" > "$log_copy" 2>/dev/null || : > "$log_copy"; }
log_has() { refresh_log; grep -qF -- "$1" "$log_copy"; }
messages() { refresh_log; sed -E 's/^[0-9-]+ [0-9:]+ \+0000 //' "$log_copy"; }
toggles() { refresh_log; grep -c 'toggle, visible=' "$log_copy"; }

# start_app [env arguments...]: starts ostrel, waits for its ready line.
start_app() {
    mark_log
    env "$@" "$ostrel" 2>>"$work/stderr" &
    app=$!
    wait_for 20 is_ready
}
# The app's own ready line, written since mark_log: the whole pid, not a
# prefix of another's, and not an earlier process's that had the same pid.
is_ready() { refresh_log; grep -qE " ready pid=$app\$" "$log_copy"; }
stop_app() { kill "$app" 2>/dev/null; wait "$app" 2>/dev/null; app=""; }

# The palette's window, once mapped, in $wid.
find_panel() { wid=$(xdotool search --onlyvisible --classname '^ostrel$' 2>/dev/null | head -n1); [ -n "$wid" ]; }

# Another application's window, focused; its id in $other_wid.
focus_other_window() {
    xmessage -name other -geometry 300x100+50+50 "another window" &
    helpers+=($!)
    find_other() { other_wid=$(xdotool search --onlyvisible --classname '^other$' 2>/dev/null | head -n1); [ -n "$other_wid" ]; }
    wait_for 10 find_other && xdotool windowactivate "$other_wid" 2>/dev/null
}

# The field's text, through the clipboard: select all and copy, until it
# reads as expected.
field_shows() { xdotool key ctrl+a ctrl+c && [ "$(xclip -o -selection clipboard 2>/dev/null)" = "$1" ]; }
