#!/usr/bin/env bash
# Installs the Debian packages Ostrel needs that this machine lacks.
#   scripts/install-deps.sh          what building and running need
#   scripts/install-deps.sh --test   also what the tests need (Xvfb, openbox, xclip, flite...)
#   scripts/install-deps.sh --bench  also what the benchmarks need
set -euo pipefail

packages=(build-essential cmake pkg-config qt6-base-dev qt6-base-dev-tools qt6-base-private-dev
          libxcb1-dev libxcb-xkb-dev libxcb-xinput-dev libwayland-dev
          x11-utils wmctrl xdotool procps fonts-dejavu-core)
# The speech listener: recogniser, English model, microphone capture, audio
# conversion, and the Python environment it runs in (made at the end).
packages+=(python3 python3-venv python3-pocketsphinx pocketsphinx-en-us alsa-utils sox)
for arg in "$@"; do
    case "$arg" in
        --test) packages+=(xvfb openbox xclip flite espeak-ng desktop-file-utils at-spi2-core dbus-daemon dbus-bin
                           libglib2.0-bin gsettings-desktop-schemas pulseaudio pulseaudio-utils
                           sway xwayland grim x11-xserver-utils libxkbcommon-dev
                           python3-dbus python3-gi) ;;
        --bench) packages+=(xvfb openbox libxcb-damage0-dev libxcb-xtest0-dev suckless-tools flite espeak-ng) ;;
        *) echo "install-deps: unknown option $arg" >&2; exit 2 ;;
    esac
done
# The bundled agent runs on any Node.js from 18 on; keep one that is there.
command -v node >/dev/null 2>&1 || packages+=(nodejs)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exec "$(dirname "$0")/make-voice-venv.sh"

echo "install-deps: installing ${missing[*]}" >&2
as_root=()
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null 2>&1 || { echo "install-deps: need root or sudo to install: ${missing[*]}" >&2; exit 1; }
    as_root=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -q
"${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
exec "$(dirname "$0")/make-voice-venv.sh"
