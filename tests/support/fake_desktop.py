#!/usr/bin/python3
"""The desktop's side of the session bus, for tests.
  serve        until killed: a tray (StatusNotifierWatcher and host), a notification server and the
               RemoteDesktop portal; one JSON line per event: {"registered": SERVICE}, {"notify":
               SUMMARY}, {"call": METHOD, "args": [...]}. SIGUSR1 closes the portal session,
               SIGUSR2 makes its consent dialog deny.
  menu         the tray menu as a host shows it: LABEL|enabled|visible|checked
  click LABEL  clicks a tray menu item as a host does"""

import json
import signal
import sys

import dbus
import dbus.lowlevel
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

WATCHER = "org.kde.StatusNotifierWatcher"
ITEM = "org.kde.StatusNotifierItem"
MENU = "com.canonical.dbusmenu"
NOTIFICATIONS = "org.freedesktop.Notifications"
PORTAL = "/org/freedesktop/portal/desktop"
REMOTE_DESKTOP = "org.freedesktop.portal.RemoteDesktop"


def report(**event):
    print(json.dumps(event), flush=True)


def emit(bus, path, interface, name, signature, *args):
    message = dbus.lowlevel.SignalMessage(path, interface, name)
    message.append(*args, signature=signature)
    bus.send_message(message)


class Desktop(dbus.service.Object):
    """The tray's watcher, the notification server and the portal, each at its own path."""
    SUPPORTS_MULTIPLE_OBJECT_PATHS = True

    def __init__(self, bus):
        super().__init__()
        for path in ("/StatusNotifierWatcher", "/org/freedesktop/Notifications", PORTAL):
            self.add_to_connection(bus, path)
        self.bus, self.items, self.grant, self.session, self.tokens = bus, [], True, None, 0

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return {WATCHER: {"IsStatusNotifierHostRegistered": True,
                          "RegisteredStatusNotifierItems": dbus.Array(self.items, signature="s")},
                REMOTE_DESKTOP: {"AvailableDeviceTypes": dbus.UInt32(7),
                                 "version": dbus.UInt32(2)}}.get(interface, {})

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        return self.GetAll(interface)[name]

    @dbus.service.method(WATCHER, in_signature="s")
    def RegisterStatusNotifierItem(self, service):
        self.items.append(str(service))
        report(registered=str(service))

    @dbus.service.method(NOTIFICATIONS, in_signature="susssasa{sv}i", out_signature="u")
    def Notify(self, app, replaces, icon, summary, body, actions, hints, timeout):
        report(notify=str(summary), body=str(body))
        return 1

    def request(self, sender, options, response=0, results=None):
        """A request whose Response follows once the call that made it has returned."""
        path = f"{PORTAL}/request/{sender[1:].replace('.', '_')}/{options['handle_token']}"
        GLib.idle_add(emit, self.bus, path, "org.freedesktop.portal.Request", "Response", "ua{sv}",
                      response, results or {})
        return dbus.ObjectPath(path)

    @dbus.service.method(REMOTE_DESKTOP, in_signature="a{sv}", out_signature="o",
                         sender_keyword="sender")
    def CreateSession(self, options, sender):
        report(call="CreateSession", args=[options])
        self.session = f"{PORTAL}/session/{sender[1:].replace('.', '_')}/{options['session_handle_token']}"
        return self.request(sender, options, 0, {"session_handle": dbus.ObjectPath(self.session)})

    @dbus.service.method(REMOTE_DESKTOP, in_signature="oa{sv}", out_signature="o",
                         sender_keyword="sender")
    def SelectDevices(self, session, options, sender):
        report(call="SelectDevices", args=[session, options])
        return self.request(sender, options)

    @dbus.service.method(REMOTE_DESKTOP, in_signature="osa{sv}", out_signature="o",
                         sender_keyword="sender")
    def Start(self, session, parent_window, options, sender):
        report(call="Start", args=[session])
        if not self.grant:
            return self.request(sender, options, 1)
        self.tokens += 1
        results = {"devices": dbus.UInt32(3), "restore_token": f"token-{self.tokens}"}
        return self.request(sender, options, 0, results)

    @dbus.service.method(REMOTE_DESKTOP, in_signature="oa{sv}dd")
    def NotifyPointerMotion(self, session, options, dx, dy):
        report(call="NotifyPointerMotion", args=[dx, dy])

    @dbus.service.method(REMOTE_DESKTOP, in_signature="oa{sv}iu")
    def NotifyPointerButton(self, session, options, button, state):
        report(call="NotifyPointerButton", args=[button, state])

    @dbus.service.method(REMOTE_DESKTOP, in_signature="oa{sv}ui")
    def NotifyPointerAxisDiscrete(self, session, options, axis, steps):
        report(call="NotifyPointerAxisDiscrete", args=[axis, steps])

    @dbus.service.method(REMOTE_DESKTOP, in_signature="oa{sv}iu")
    def NotifyKeyboardKeysym(self, session, options, keysym, state):
        report(call="NotifyKeyboardKeysym", args=[keysym, state])

    def close(self):
        if self.session:
            emit(self.bus, self.session, "org.freedesktop.portal.Session", "Closed", "a{sv}", {})
        self.session = None
        return True


def serve():
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    desktop = Desktop(bus)
    names = [dbus.service.BusName(name, bus) for name in (WATCHER, NOTIFICATIONS, "org.freedesktop.portal.Desktop")]
    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGUSR1, desktop.close)
    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGUSR2, lambda: setattr(desktop, "grant", False) or True)
    report(ready=True)
    GLib.MainLoop().run()


def menu_entries():
    """(id, "LABEL|enabled|visible|checked") of each item of the tray menu."""
    bus = dbus.SessionBus()
    properties = dbus.PROPERTIES_IFACE
    service = str(bus.get_object(WATCHER, "/StatusNotifierWatcher").Get(
        WATCHER, "RegisteredStatusNotifierItems", dbus_interface=properties)[-1])
    path = bus.get_object(service, "/StatusNotifierItem").Get(ITEM, "Menu", dbus_interface=properties)
    menu = bus.get_object(service, path)
    _, (_, _, children) = menu.GetLayout(0, -1, [], dbus_interface=MENU)
    return menu, [(child, "|".join([str(item.get("label", "")).replace("__", "_"),
                                    str(bool(item.get("enabled", True))).lower(),
                                    str(bool(item.get("visible", True))).lower(),
                                    str(int(item.get("toggle-state", -1)))]))
                  for child, item, _ in children if item.get("type") != "separator"]


def main(command, *args):
    if command == "serve":
        return serve()
    menu, entries = menu_entries()
    if command == "menu":
        print("\n".join(text for _, text in entries))
        return None
    clicked = [child for child, text in entries if text.split("|")[0] == args[0]]
    menu.Event(clicked[0], "clicked", dbus.Int32(0, variant_level=1), dbus.UInt32(0),
               dbus_interface=MENU)
    return None


if __name__ == "__main__":
    main(*sys.argv[1:])
