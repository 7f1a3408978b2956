#!/usr/bin/env bash
# Makes agent/voice/.venv, the Python environment the speech listener runs in.
# It is built from Debian's own interpreter with the system site packages, so
# it sees python3-pocketsphinx; another python3 earlier on PATH (pyenv, conda)
# could not. Does nothing when the environment is already there.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
venv=$root/agent/voice/.venv
system=/usr/bin/python3

[ -x "$system" ] || { echo "make-voice-venv: $system is missing (apt-get install python3)" >&2; exit 1; }
if [ -x "$venv/bin/python" ] && grep -qx 'include-system-site-packages = true' "$venv/pyvenv.cfg" 2>/dev/null \
    && [ "$(readlink -f "$venv/bin/python")" = "$(readlink -f "$system")" ]; then
    exit 0
fi
rm -rf "$venv"
"$system" -m venv --system-site-packages --without-pip "$venv"
echo "make-voice-venv: made $venv" >&2
