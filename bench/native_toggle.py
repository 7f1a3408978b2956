#!/usr/bin/python3
"""Measures `ostrel --toggle` -> the palette mapped as a native Wayland
window under sway, which maps a surface only once its first frame is
committed (so mapped is painted here), read from sway's window events.

    native_toggle.py PATH_TO_OSTREL SHOWS
"""
import json
import statistics
import subprocess
import sys
import time

ostrel, shows = sys.argv[1], int(sys.argv[2])
events = subprocess.Popen(["swaymsg", "-t", "subscribe", "-m", '["window"]'],
                          stdout=subprocess.PIPE, text=True)


def wait_for(change):
    for line in events.stdout:
        event = json.loads(line)
        if event.get("change") == change and event.get("container", {}).get("app_id") == "ostrel":
            return time.monotonic()
    raise SystemExit("native_toggle: sway's event stream ended")


def toggle():
    started = time.monotonic()
    subprocess.run([ostrel, "--toggle"], check=True)
    return started


times = []
try:
    for _ in range(shows + 1):
        started = toggle()
        times.append((wait_for("new") - started) * 1000)
        toggle()
        wait_for("close")
finally:
    events.kill()
first, rest = times[0], sorted(times[1:])
p95 = rest[min(len(rest) - 1, int(round(0.95 * (len(rest) - 1))))]
print("first show: painted %.2f ms" % first)
print("--toggle -> painted: median %.2f ms, p95 %.2f ms (%d shows)" % (statistics.median(rest), p95, len(rest)))
