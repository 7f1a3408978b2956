#!/usr/bin/python3
"""Measures `ostrel --toggle` -> the palette's first frame committed as a
native Wayland client, for a palette that is an overlay (a layer surface,
which no window list shows): the palette runs with WAYLAND_DEBUG=client,
and the time is that of the first wl_surface.commit following an attach
once the toggle was sent, as libwayland stamps it (milliseconds of the
real-time clock).

    native_toggle.py PATH_TO_OSTREL SHOWS
"""
import os
import re
import statistics
import subprocess
import sys
import threading
import time

ostrel, shows = sys.argv[1], int(sys.argv[2])
palette = subprocess.Popen([ostrel], stderr=subprocess.PIPE, text=True, errors="replace",
                           env={**os.environ, "QT_QPA_PLATFORM": "wayland", "WAYLAND_DEBUG": "client"})
stamp = re.compile(r"^\[\s*(\d+)\.(\d+)\]\s+(?:\{[^}]*\}\s+)?-> (wl_surface@\d+)\.(attach|commit)\(")
frames = []  # stamps (ms) of commits that carried a new frame
ready = threading.Event()
condition = threading.Condition()


def read():
    attached = set()
    for line in palette.stderr:
        if "ready pid=" in line:
            ready.set()
        m = stamp.match(line)
        if not m:
            continue
        surface = m[3]
        if m[4] == "attach":
            attached.add(surface)
        elif surface in attached:
            attached.discard(surface)
            with condition:
                frames.append(int(m[1]) + int(m[2]) / 1000)
                condition.notify_all()


threading.Thread(target=read, daemon=True).start()
if not ready.wait(20):
    raise SystemExit("native_toggle: the palette did not start")


def now_ms():
    # libwayland's stamp: the real-time clock in microseconds, printed as
    # milliseconds of a 32-bit count.
    return (time.clock_gettime_ns(time.CLOCK_REALTIME) // 1000 % 2**32) / 1000


def toggle_and_wait():
    with condition:
        seen = len(frames)
    started = now_ms()
    subprocess.run([ostrel, "--toggle"], check=True)
    with condition:
        if not condition.wait_for(lambda: len(frames) > seen, timeout=10):
            raise SystemExit("native_toggle: no frame after --toggle")
        return frames[seen] - started


times = []
try:
    for _ in range(shows + 1):
        times.append(toggle_and_wait())
        subprocess.run([ostrel, "--toggle"], check=True)
        time.sleep(0.2)
finally:
    palette.terminate()
    palette.wait()
first, rest = times[0], sorted(times[1:])
p95 = rest[min(len(rest) - 1, int(round(0.95 * (len(rest) - 1))))]
print("first show: painted %.2f ms" % first)
print("--toggle -> painted: median %.2f ms, p95 %.2f ms (%d shows)" % (statistics.median(rest), p95, len(rest)))
