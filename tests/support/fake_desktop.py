#!/usr/bin/python3
"""The desktop's side of the session bus, for tests: a tray (StatusNotifierWatcher with a host)
and a notification server, plus a tray host's view of a registered item.

  fake_desktop.py serve [--no-tray] [--no-notifications]
        owns the services until killed; prints one JSON line per event on standard output:
        {"registered": SERVICE} and {"notify": SUMMARY, "body": BODY}
  fake_desktop.py menu            prints the tray menu, one item a line: LABEL|enabled|visible|checked
  fake_desktop.py click LABEL     clicks the menu item LABEL as a tray host does
  fake_desktop.py tooltip         prints the item's tool tip description
"""

import json
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

WATCHER = "org.kde.StatusNotifierWatcher"
ITEM = "org.kde.StatusNotifierItem"
MENU = "com.canonical.dbusmenu"
NOTIFICATIONS = "org.freedesktop.Notifications"


def report(**event):
    print(json.dumps(event), flush=True)


class Watcher(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, "/StatusNotifierWatcher")
        self.items = []

    @dbus.service.method(WATCHER, in_signature="s", sender_keyword="sender")
    def RegisterStatusNotifierItem(self, service, sender=None):
        self.items.append(str(service))
        report(registered=str(service), sender=str(sender))
        self.StatusNotifierItemRegistered(service)

    @dbus.service.signal(WATCHER, signature="s")
    def StatusNotifierItemRegistered(self, service):
        pass

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        return self.GetAll(interface)[name]

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return {"IsStatusNotifierHostRegistered": True, "ProtocolVersion": dbus.Int32(0),
                "RegisteredStatusNotifierItems": dbus.Array(self.items, signature="s")}


class Notifications(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, "/org/freedesktop/Notifications")
        self.next_id = 0

    @dbus.service.method(NOTIFICATIONS, in_signature="susssasa{sv}i", out_signature="u")
    def Notify(self, app, replaces, icon, summary, body, actions, hints, timeout):
        self.next_id += 1
        report(notify=str(summary), body=str(body), app=str(app),
               transient=bool(hints.get("transient", False)))
        return self.next_id

    @dbus.service.method(NOTIFICATIONS, out_signature="as")
    def GetCapabilities(self):
        return ["body"]

    @dbus.service.method(NOTIFICATIONS, out_signature="ssss")
    def GetServerInformation(self):
        return ("fake", "corvane tests", "1", "1.2")


def serve(args):
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    keep = []
    if "--no-tray" not in args:
        keep.append(Watcher(bus))
        keep.append(dbus.service.BusName(WATCHER, bus))
    if "--no-notifications" not in args:
        keep.append(Notifications(bus))
        keep.append(dbus.service.BusName(NOTIFICATIONS, bus))
    report(ready=True)
    GLib.MainLoop().run()


def item():
    bus = dbus.SessionBus()
    watcher = bus.get_object(WATCHER, "/StatusNotifierWatcher")
    services = watcher.Get(WATCHER, "RegisteredStatusNotifierItems",
                           dbus_interface=dbus.PROPERTIES_IFACE)
    service = str(services[-1])
    return bus, service, bus.get_object(service, "/StatusNotifierItem")


def menu_entries():
    bus, service, tray_item = item()
    path = tray_item.Get(ITEM, "Menu", dbus_interface=dbus.PROPERTIES_IFACE)
    menu = bus.get_object(service, path)
    _, (_, _, children) = menu.GetLayout(0, -1, [], dbus_interface=MENU)
    entries = []
    for child_id, props, _ in children:
        if props.get("type") == "separator":
            continue
        entries.append((int(child_id), str(props.get("label", "")).replace("__", "_"),
                        bool(props.get("enabled", True)), bool(props.get("visible", True)),
                        int(props.get("toggle-state", -1))))
    return menu, entries


def main():
    command = sys.argv[1]
    if command == "serve":
        serve(sys.argv[2:])
    elif command == "menu":
        for _, label, enabled, visible, checked in menu_entries()[1]:
            print(f"{label}|{str(enabled).lower()}|{str(visible).lower()}|{checked}")
    elif command == "click":
        menu, entries = menu_entries()
        ids = [entry[0] for entry in entries if entry[1] == sys.argv[2]]
        if not ids:
            sys.exit(f"no menu item {sys.argv[2]!r}")
        menu.Event(ids[0], "clicked", dbus.Int32(0, variant_level=1), dbus.UInt32(0),
                   dbus_interface=MENU)
    elif command == "tooltip":
        _, _, tray_item = item()
        tip = tray_item.Get(ITEM, "ToolTip", dbus_interface=dbus.PROPERTIES_IFACE)
        print(str(tip[3]))
    else:
        sys.exit(f"unknown command {command}")


if __name__ == "__main__":
    main()
