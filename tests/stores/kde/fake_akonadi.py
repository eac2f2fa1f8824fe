#!/usr/bin/python3
"""A stand-in for one Akonadi resource on the session bus, for the KDE store's tests.

  fake_akonadi.py RESOURCE CALLS

takes the name org.freedesktop.Akonadi.Agent.RESOURCE, answers `reconfigure` on "/" as the real
resource's control interface does, appends a line per call to the file CALLS, and creates
CALLS.ready once it holds its name. It ends when the bus does.
"""
import sys

from gi.repository import Gio, GLib

INTERFACE = """<node><interface name="org.freedesktop.Akonadi.Agent.Control">
  <method name="reconfigure"/></interface></node>"""

resource, calls = sys.argv[1], sys.argv[2]
loop = GLib.MainLoop()


def called(connection, sender, path, interface, method, parameters, invocation):
    with open(calls, "a") as out:
        out.write(f"{path} {interface}.{method}\n")
    invocation.return_value(None)


def on_bus(connection, name):
    info = Gio.DBusNodeInfo.new_for_xml(INTERFACE).interfaces[0]
    connection.register_object("/", info, called, None, None)


def named(connection, name):
    open(calls + ".ready", "w").close()


Gio.bus_own_name(Gio.BusType.SESSION, "org.freedesktop.Akonadi.Agent." + resource,
                 Gio.BusNameOwnerFlags.NONE, on_bus, named, lambda *args: loop.quit())
loop.run()
