#!/usr/bin/python3
"""Input and pictures in a GNOME Shell session, over its session bus.
  gnome-session.py keys    types what each line of standard input says, through
                           mutter's RemoteDesktop interface: NAME presses and
                           releases a key (X keysym names), +NAME / -NAME
                           presses / releases it, text:abc types letters,
                           sleep:SECONDS waits; "ready" is printed before
                           each line is read
  gnome-session.py shot FILE   saves a screenshot (PNG) through GNOME Shell
"""
import sys
import time

import dbus
import gi

gi.require_version("Gdk", "3.0")
from gi.repository import Gdk  # noqa: E402

REMOTE = "org.gnome.Mutter.RemoteDesktop"


def keysym(name):
    value = Gdk.keyval_from_name(name)
    if value in (0, 0xFFFFFF) and len(name) == 1:
        value = Gdk.unicode_to_keyval(ord(name))
    if value in (0, 0xFFFFFF):
        raise SystemExit(f"gnome-session: no key called {name!r}")
    return dbus.UInt32(value)


def keys():
    bus = dbus.SessionBus()
    path = bus.get_object(REMOTE, "/org/gnome/Mutter/RemoteDesktop").CreateSession(
        dbus_interface=REMOTE)
    session = dbus.Interface(bus.get_object(REMOTE, path), REMOTE + ".Session")
    session.Start()

    def key(name, down):
        session.NotifyKeyboardKeysym(keysym(name), down)

    # The first event of a new virtual keyboard is lost: a Shift stroke
    # nobody minds goes first.
    time.sleep(0.2)
    key("Shift_L", True)
    key("Shift_L", False)
    time.sleep(0.2)
    while True:
        print("ready", flush=True)
        line = sys.stdin.readline()
        if not line:
            break
        for word in line.split():
            if word.startswith("text:"):
                for letter in word[5:]:
                    key(letter, True)
                    key(letter, False)
                    time.sleep(0.02)
            elif word.startswith("sleep:"):
                time.sleep(float(word[6:]))
            elif word[0] in "+-" and len(word) > 1:
                key(word[1:], word[0] == "+")
            else:
                key(word, True)
                key(word, False)
            time.sleep(0.05)
    session.Stop()


def shot(path):
    bus = dbus.SessionBus()
    # GNOME Shell takes screenshots only for the names on its list.
    name = dbus.service.BusName("org.gnome.Screenshot", bus)
    time.sleep(0.3)  # until the shell has seen the name change hands
    shell = bus.get_object("org.gnome.Shell.Screenshot", "/org/gnome/Shell/Screenshot")
    ok, _ = shell.Screenshot(False, False, path, dbus_interface="org.gnome.Shell.Screenshot")
    del name
    if not ok:
        raise SystemExit("gnome-session: GNOME Shell took no screenshot")


if __name__ == "__main__":
    if sys.argv[1:] == ["keys"]:
        keys()
    elif len(sys.argv) == 3 and sys.argv[1] == "shot":
        import dbus.service  # noqa: E402
        shot(sys.argv[2])
    else:
        raise SystemExit(__doc__)
