#!/usr/bin/env bash
# Installs a build into a throw-away prefix (its path holds a space) and
# checks what landed, the desktop entries, --autostart, and the Debian package
# CPack makes of the same build.
#   install.sh BUILD_DIR
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
build=$1
stage=$(mktemp -d "${TMPDIR:-/tmp}/ostrel install.XXXXXX")
trap 'rm -rf "$stage"' EXIT
prefix="$stage/my prefix"
agent="$prefix/share/ostrel/agent"

cmake --install "$build" --prefix "$prefix" >"$stage/install.log" 2>&1 || { cat "$stage/install.log"; exit 1; }
check "executable installed" test -x "$prefix/bin/ostrel"
check "agent scripts installed, runnable" test -x "$agent/ostrel/daemon.mjs" -a -x "$agent/ostrel/respond.mjs" \
    -a -f "$agent/ostrel/skills/launch.mjs" -a -f "$agent/ostrel/listen.py"
check "no agent tests, testkit or virtual environment" \
    test ! -e "$agent/test" -a ! -e "$agent/testkit" -a ! -e "$agent/voice/.venv/pyvenv.cfg"
check "listener interpreter is the system python" \
    test "$(readlink "$agent/voice/.venv/bin/python")" = /usr/bin/python3
check "icon in hicolor" test -s "$prefix/share/icons/hicolor/scalable/apps/ostrel.svg"
check "desktop entry valid" desktop-file-validate "$prefix/share/applications/ostrel.desktop"
unit="$prefix/share/systemd/user/ostrel-agent.service"
check "unit starts the installed daemon" \
    grep -qxF "ExecStart=$(command -v node) $agent/ostrel/daemon.mjs" "$unit"
check "unit restarts on failure" grep -qx "Restart=on-failure" "$unit"
check "installed agent answers" \
    bash -c 'node "$1/ostrel/respond.mjs" "12*89" | grep -q 1068' _ "$agent"

# --autostart, with a private configuration folder.
ostrel() { HOME="$stage/home" XDG_CONFIG_HOME="$stage/config" "$prefix/bin/ostrel" "$@"; }
export -f ostrel; export stage prefix
entry="$stage/config/autostart/ostrel.desktop"
check "autostart on says where" bash -c 'test "$(ostrel --autostart on)" = "ostrel: autostart on: $1 starts $2 at login"' \
    _ "$entry" "$prefix/bin/ostrel"
check "autostart entry valid" desktop-file-validate "$entry"
check "autostart entry names this executable, quoted" grep -qxF "Exec=\"$prefix/bin/ostrel\"" "$entry"
check "autostart off removes it" bash -c 'ostrel --autostart off >/dev/null && test ! -e "$1"' _ "$entry"
check "autostart off twice is fine" bash -c 'ostrel --autostart off | grep -q "there was no"'
touch "$stage/file"
check "unwritable folder: exit 1 and why" bash -c \
    'out=$(XDG_CONFIG_HOME="$1/file/sub" "$2" --autostart on 2>&1); test $? = 1 && grep -q "cannot make" <<<"$out"' \
    _ "$stage" "$prefix/bin/ostrel"
check "bad value: usage error" bash -c 'ostrel --autostart maybe 2>/dev/null; test $? = 2'

# The package: metadata and files, with the paths of an install under /usr.
cpack --config "$build/CPackConfig.cmake" -B "$stage/pkg" >"$stage/cpack.log" 2>&1 || { cat "$stage/cpack.log"; exit 1; }
deb=$(ls "$stage"/pkg/ostrel_*.deb)
check "package name and version" test "$(dpkg-deb -f "$deb" Package Version)" = "$(printf 'Package: ostrel\nVersion: 0.1')"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
check "depends on nodejs" grep -q "nodejs" <<<"$depends"
check "depends on Qt widgets and network" bash -c 'grep -q libqt6widgets6 <<<"$1" && grep -q libqt6network6 <<<"$1"' _ "$depends"
check "recommends the listener" bash -c 'dpkg-deb -f "$1" Recommends | grep -q python3-pocketsphinx' _ "$deb"
dpkg-deb --fsys-tarfile "$deb" | tar -t >"$stage/files"
for f in ./usr/bin/ostrel ./usr/share/applications/ostrel.desktop ./usr/share/ostrel/agent/ostrel/daemon.mjs \
         ./usr/share/icons/hicolor/scalable/apps/ostrel.svg ./usr/share/systemd/user/ostrel-agent.service; do
    check "package holds $f" grep -qxF "$f" "$stage/files"
done
check "package holds no tests" bash -c '! grep -q "/agent/test" "$1"' _ "$stage/files"
check "packaged unit names /usr" bash -c \
    'dpkg-deb --fsys-tarfile "$1" | tar -xO ./usr/share/systemd/user/ostrel-agent.service | grep -qxF "ExecStart=/usr/bin/node /usr/share/ostrel/agent/ostrel/daemon.mjs"' _ "$deb"
finish
