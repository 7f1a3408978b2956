#!/usr/bin/env bash
# Installs a build into a throw-away prefix whose path holds a space: what
# landed, the desktop entries, --autostart, and the Debian package of it.
#   install.sh BUILD_DIR
set -uo pipefail
source "$(dirname "$0")/lib.sh"
build=$1
stage=$(mktemp -d "${TMPDIR:-/tmp}/ostrel install.XXXXXX")
trap 'rm -rf "$stage"' EXIT
prefix="$stage/my prefix"
agent="$prefix/share/ostrel/agent"
has_all() { # has_all TEXT WORD...: every word is in the text
    local text=$1 word; shift
    for word; do grep -qF -- "$word" <<<"$text" || return 1; done
}

cmake --install "$build" --prefix "$prefix" >"$stage/install.log" 2>&1 || { cat "$stage/install.log"; exit 1; }
check "agent scripts installed, runnable" test -x "$agent/ostrel/daemon.mjs" -a -x "$agent/ostrel/respond.mjs" \
    -a -f "$agent/ostrel/skills/launch.mjs" -a -f "$agent/ostrel/listen.py"
check "listener interpreter is the system python" \
    test "$(readlink "$agent/voice/.venv/bin/python")" = /usr/bin/python3
check "desktop entry valid" desktop-file-validate "$prefix/share/applications/ostrel.desktop"
check "unit starts the installed daemon" grep -qxF "ExecStart=$(command -v node) $agent/ostrel/daemon.mjs" \
    "$prefix/share/systemd/user/ostrel-agent.service"
check "installed agent answers" has_all "$(node "$agent/ostrel/respond.mjs" "12*89")" 1068

# The command becomes the installed palette, and needs no toolkit itself.
HOME="$stage/home" XDG_RUNTIME_DIR="$stage" QT_QPA_PLATFORM=offscreen "$prefix/bin/ostrel" 2>/dev/null &
palette=$!
became_palette() { [ "$(readlink /proc/$palette/exe)" = "$prefix/libexec/ostrel/ostrel" ]; }
check "ostrel starts the palette installed beside it" wait_for 20 became_palette
kill "$palette"; wait "$palette" 2>/dev/null
check "ostrel itself links no Qt library" lacks grep -q libQt6 <(ldd "$prefix/bin/ostrel" 2>&1)

# --autostart, with a private configuration folder.
ostrel() { HOME="$stage/home" XDG_CONFIG_HOME=${config:-$stage/config} "$prefix/bin/ostrel" "$@"; }
entry="$stage/config/autostart/ostrel.desktop"
check "autostart on says where" \
    test "$(ostrel --autostart on)" = "ostrel: autostart on: $entry starts $prefix/bin/ostrel at login"
check "autostart entry valid" desktop-file-validate "$entry"
touch "$stage/file"
refused() { local out; out=$(config=$stage/file/sub ostrel --autostart on 2>&1); [ $? = 1 ] && has_all "$out" "cannot make"; }
check "unwritable folder: exit 1 and why" refused
usage_error() { ostrel --autostart maybe 2>/dev/null; [ $? = 2 ]; }
check "bad value: usage error" usage_error

# The package: metadata and files, with the paths of an install under /usr.
cpack --config "$build/CPackConfig.cmake" -B "$stage/pkg" >"$stage/cpack.log" 2>&1 || { cat "$stage/cpack.log"; exit 1; }
deb=$(ls "$stage"/pkg/ostrel_*.deb)
check "depends on Qt widgets and network" has_all "$(dpkg-deb -f "$deb" Depends)" libqt6widgets6 libqt6network6
files=$(dpkg-deb --fsys-tarfile "$deb" | tar -t)
check "package holds the program, its palette, entry, icon, agent and unit" has_all "$files" ./usr/bin/ostrel \
    ./usr/libexec/ostrel/ostrel \
    ./usr/share/applications/ostrel.desktop ./usr/share/icons/hicolor/scalable/apps/ostrel.svg \
    ./usr/share/ostrel/agent/ostrel/daemon.mjs ./usr/share/systemd/user/ostrel-agent.service
check "packaged unit names /usr" has_all "$(dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/systemd/user/ostrel-agent.service)" \
    "ExecStart=/usr/bin/node /usr/share/ostrel/agent/ostrel/daemon.mjs"
finish
