#!/usr/bin/env bash
# Runs a test in a world of its own, so that it neither sees nor disturbs any
# other Ostrel on this machine (another user's, another checkout's): a private
# /tmp, and with it the log file /tmp/ostrel-app.log and the X sockets; its own
# home and runtime directory; its own process ids, so that the listener
# clean-up (pkill -f ostrel/listen.py) reaches only its own listeners. Every
# process the command leaves behind ends with it. Exits with the command's
# status.
#   tests/own-world.sh command [args...]
# Root gets a mount and a process namespace; anyone else a user namespace
# around them. Where the system allows neither, the test is skipped (exit 77)
# and says why; for root that is a failure instead.
set -euo pipefail

if [ "${OSTREL_OWN_WORLD:-}" != inside ]; then
    namespaces=(--mount --pid --fork --mount-proc --kill-child)
    [ "$(id -u)" -eq 0 ] || namespaces=(--user --map-root-user "${namespaces[@]}")
    if ! refused=$(unshare "${namespaces[@]}" true 2>&1); then
        if [ "$(id -u)" -eq 0 ]; then
            echo "own-world: cannot make a private mount and process namespace as root: $refused" >&2
            exit 1
        fi
        echo "own-world: SKIPPED, this test needs a world of its own and the system allows no" \
            "user namespace ($refused): run as root, or allow unprivileged user namespaces" >&2
        exit 77
    fi
    OSTREL_OWN_WORLD=inside exec unshare "${namespaces[@]}" "$0" "$@"
fi

# Process 1 of the new namespace: when it ends, the kernel ends the rest.
unset OSTREL_OWN_WORLD
mount -t tmpfs -o mode=1777 ostrel-world /tmp
export TMPDIR=/tmp HOME=/tmp/home XDG_RUNTIME_DIR=/tmp/run
mkdir -m 700 "$HOME" "$XDG_RUNTIME_DIR"
# Nothing of the desktop the tests were started from: no display, bus or
# settings of its own but those a test makes.
unset DISPLAY WAYLAND_DISPLAY XAUTHORITY DBUS_SESSION_BUS_ADDRESS SESSION_MANAGER \
    XDG_CONFIG_HOME XDG_DATA_HOME XDG_CACHE_HOME XDG_STATE_HOME
# Not exec: as process 1, bash also reaps the orphans the command leaves, so a
# test that waits for a process to be gone does not wait on a zombie.
status=0
"$@" || status=$?
exit "$status"
