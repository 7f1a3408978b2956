#!/usr/bin/python3
"""A desktop portal offering only GlobalShortcuts, on the session bus, for
the tests: it grants every session and shortcut (or refuses them with
--refuse, or grants them binding none with --bind-nothing), prints each bound shortcut as "bound ID TRIGGER", and emits
Activated for every bound shortcut when org.ostrel.FakePortal.Press is
called."""
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

NAME = "org.freedesktop.portal.Desktop"
PATH = "/org/freedesktop/portal/desktop"
SHORTCUTS = "org.freedesktop.portal.GlobalShortcuts"
REFUSE = "--refuse" in sys.argv
BIND_NOTHING = "--bind-nothing" in sys.argv


class Request(dbus.service.Object):
    @dbus.service.signal("org.freedesktop.portal.Request", signature="ua{sv}")
    def Response(self, response, results):
        pass


class Portal(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, PATH)
        self.bus = bus
        self.bound = []

    def answer(self, sender, token, response, results):
        path = "%s/request/%s/%s" % (PATH, sender[1:].replace(".", "_"), token)
        request = Request(self.bus, path)
        # After the method's reply, as a real portal answers.
        GLib.idle_add(lambda: request.Response(dbus.UInt32(response), results) and False)
        return dbus.ObjectPath(path)

    @dbus.service.method(SHORTCUTS, in_signature="a{sv}", out_signature="o", sender_keyword="sender")
    def CreateSession(self, options, sender):
        session = dbus.ObjectPath("%s/session/%s/%s" % (PATH, sender[1:].replace(".", "_"),
                                                        options["session_handle_token"]))
        return self.answer(sender, options["handle_token"], 2 if REFUSE else 0,
                           {"session_handle": dbus.String(session)})

    @dbus.service.method(SHORTCUTS, in_signature="oa(sa{sv})sa{sv}", out_signature="o",
                         sender_keyword="sender")
    def BindShortcuts(self, session, shortcuts, parent, options, sender):
        results = []
        for shortcut_id, properties in shortcuts if not BIND_NOTHING else []:
            trigger = str(properties.get("preferred_trigger", ""))
            print("bound", shortcut_id, trigger, flush=True)
            self.bound.append((session, shortcut_id))
            results.append((shortcut_id, {"description": properties.get("description", ""),
                                          "trigger_description": trigger.replace("ALT", "Alt")}))
        return self.answer(sender, options["handle_token"], 0,
                           {"shortcuts": dbus.Array(results, signature="(sa{sv})")})

    @dbus.service.signal(SHORTCUTS, signature="osta{sv}")
    def Activated(self, session, shortcut_id, timestamp, options):
        pass

    @dbus.service.method("org.ostrel.FakePortal")
    def Press(self):
        for session, shortcut_id in self.bound:
            self.Activated(session, shortcut_id, dbus.UInt64(0), dbus.Dictionary({}, signature="sv"))


DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
portal = Portal(bus)
bus.request_name(NAME)
print("ready", flush=True)
GLib.MainLoop().run()
