#!/usr/bin/env bash
# The palette's accessibility tests on the real AT-SPI bridge, switched on
# as a screen reader would, over a private accessibility bus.
#   (inside xvfb-session.sh and dbus-run-session) accessibility.sh TST_PALETTE
set -euo pipefail
launcher=/usr/libexec/at-spi-bus-launcher
[ -x "$launcher" ] || { echo "accessibility: $launcher is missing (apt-get install at-spi2-core)" >&2; exit 1; }
"$launcher" >/dev/null 2>&1 &
bus=$!
trap 'kill "$bus" 2>/dev/null; wait "$bus" 2>/dev/null || true' EXIT
QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 "$1" ostrel::TestAccessibility
