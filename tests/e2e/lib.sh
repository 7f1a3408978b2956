# Helpers for the end-to-end tests: checks that count, waiting, reading
# window state from the X server. Sourced, not run.

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
log_has() { grep -qF -- "$1" "$log_copy"; }
