#!/usr/bin/python3
"""A fake xdg-desktop-portal for tests: owns org.freedesktop.portal.Desktop on the session bus and
offers org.freedesktop.portal.RemoteDesktop at /org/freedesktop/portal/desktop, with Request and
Session objects as the real portal makes them. It records every RemoteDesktop call.

Commands, one per line on standard input; each gets exactly one JSON line on standard output
(`{"ok": true, ...}` or `{"ok": false, "message": TEXT}`):

  calls              every RemoteDesktop call so far: [{"method": M, "args": [...]}, ...]
  answer grant|deny  how the consent dialog (Start) answers from now on (default grant)
  close              the desktop closes the session (Session.Closed)
  quit
"""

import argparse
import json
import os
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

DESKTOP = "org.freedesktop.portal.Desktop"
PATH = "/org/freedesktop/portal/desktop"
REMOTE_DESKTOP = "org.freedesktop.portal.RemoteDesktop"
REQUEST = "org.freedesktop.portal.Request"
SESSION = "org.freedesktop.portal.Session"
PROPERTIES = "org.freedesktop.DBus.Properties"
CANCELLED = 1


def plain(value):
    if isinstance(value, (dbus.Array, list)):
        return [plain(v) for v in value]
    if isinstance(value, (dbus.Dictionary, dict)):
        return {str(k): plain(v) for k, v in value.items()}
    for kind in (float, int):
        if isinstance(value, kind):
            return kind(value)
    return str(value)


def reply(ok=True, **fields):
    print(json.dumps(dict(ok=ok, **fields)), flush=True)


def element(sender):
    return sender[1:].replace(".", "_")


class Request(dbus.service.Object):
    """Answers once, after the call that made it has returned, then leaves the bus."""

    def __init__(self, bus, path, response, results):
        super().__init__(bus, path)
        self.path = dbus.ObjectPath(path)
        GLib.idle_add(self.answer, dbus.UInt32(response), dbus.Dictionary(results, signature="sv"))

    @dbus.service.signal(REQUEST, signature="ua{sv}")
    def Response(self, response, results):
        pass

    def answer(self, response, results):
        self.Response(response, results)
        self.remove_from_connection()
        return False


class Session(dbus.service.Object):
    def __init__(self, bus, path, fake):
        super().__init__(bus, path)
        self.path = path
        self.fake = fake
        self.started = False
        self.persist = False

    @dbus.service.method(SESSION)
    def Close(self):
        self.fake.record("Session.Close", [self.path])
        self.end()

    @dbus.service.signal(SESSION, signature="a{sv}")
    def Closed(self, details):
        pass

    def end(self):
        if self.fake.session is self:
            self.fake.session = None
        self.remove_from_connection()


class Portal(dbus.service.Object):
    def __init__(self, bus, version):
        super().__init__(bus, PATH)
        self.bus = bus
        self.version = version
        self.calls = []
        self.grant = True
        self.session = None
        self.tokens = 0

    def record(self, method, args):
        self.calls.append({"method": method, "args": plain(args)})

    def request(self, sender, options, response, results):
        path = f"{PATH}/request/{element(sender)}/{options['handle_token']}"
        return Request(self.bus, path, response, results).path

    def session_for(self, handle):
        if self.session is None or self.session.path != str(handle):
            raise dbus.DBusException("no such session",
                                     name="org.freedesktop.DBus.Error.AccessDenied")
        return self.session

    @dbus.service.method(PROPERTIES, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        if interface != REMOTE_DESKTOP:
            return dbus.Dictionary({}, signature="sv")
        return dbus.Dictionary({"AvailableDeviceTypes": dbus.UInt32(7),
                                "version": dbus.UInt32(self.version)}, signature="sv")

    @dbus.service.method(REMOTE_DESKTOP, in_signature="a{sv}", out_signature="o",
                         sender_keyword="sender")
    def CreateSession(self, options, sender):
        self.record("CreateSession", [options])
        path = f"{PATH}/session/{element(sender)}/{options['session_handle_token']}"
        self.session = Session(self.bus, path, self)
        return self.request(sender, options, 0, {"session_handle": dbus.ObjectPath(path)})

    @dbus.service.method(REMOTE_DESKTOP, in_signature="oa{sv}", out_signature="o",
                         sender_keyword="sender")
    def SelectDevices(self, session, options, sender):
        self.record("SelectDevices", [session, options])
        self.session_for(session).persist = options.get("persist_mode", 0) == 2
        return self.request(sender, options, 0, {})

    @dbus.service.method(REMOTE_DESKTOP, in_signature="osa{sv}", out_signature="o",
                         sender_keyword="sender")
    def Start(self, session, parent_window, options, sender):
        self.record("Start", [session, parent_window, options])
        current = self.session_for(session)
        if not self.grant:
            return self.request(sender, options, CANCELLED, {})
        current.started = True
        results = {"devices": dbus.UInt32(3)}
        if current.persist and self.version >= 2:
            self.tokens += 1
            results["restore_token"] = f"token-{self.tokens}"
        return self.request(sender, options, 0, results)

    def notify(self, method, session, args):
        self.record(method, args)
        if not self.session_for(session).started:
            raise dbus.DBusException("session not started",
                                     name="org.freedesktop.DBus.Error.AccessDenied")

    @dbus.service.method(REMOTE_DESKTOP, in_signature="oa{sv}dd")
    def NotifyPointerMotion(self, session, options, dx, dy):
        self.notify("NotifyPointerMotion", session, [dx, dy])

    @dbus.service.method(REMOTE_DESKTOP, in_signature="oa{sv}iu")
    def NotifyPointerButton(self, session, options, button, state):
        self.notify("NotifyPointerButton", session, [button, state])

    @dbus.service.method(REMOTE_DESKTOP, in_signature="oa{sv}ui")
    def NotifyPointerAxisDiscrete(self, session, options, axis, steps):
        self.notify("NotifyPointerAxisDiscrete", session, [axis, steps])

    @dbus.service.method(REMOTE_DESKTOP, in_signature="oa{sv}iu")
    def NotifyKeyboardKeysym(self, session, options, keysym, state):
        self.notify("NotifyKeyboardKeysym", session, [keysym, state])

    # Commands from the test.
    def cmd_calls(self):
        reply(calls=self.calls)

    def cmd_answer(self, how):
        self.grant = how == "grant"
        reply()

    def cmd_close(self):
        if self.session is None:
            raise RuntimeError("no session to close")
        session = self.session
        session.Closed(dbus.Dictionary({}, signature="sv"))
        session.end()
        reply()

    def handle(self, line):
        words = line.split()
        if not words:
            return
        if words[0] == "quit":
            reply()
            GLib.idle_add(self.loop.quit)
            return
        try:
            getattr(self, "cmd_" + words[0])(*words[1:])
        except Exception as error:  # every command answers, even a broken one
            reply(False, message=str(error))


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--version", type=int, default=2,
                        help="the interface version it announces (restore tokens from 2)")
    args = parser.parse_args()

    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    portal = Portal(bus, args.version)
    name = dbus.service.BusName(DESKTOP, bus, do_not_queue=True)
    loop = GLib.MainLoop()
    portal.loop = loop

    pending = [b""]

    def readable(source, condition):
        chunk = os.read(sys.stdin.fileno(), 65536)
        if not chunk:
            loop.quit()
            return False
        *lines, rest = (pending.pop() + chunk).split(b"\n")
        pending.append(rest)
        for line in lines:
            portal.handle(line.decode())
        return True

    GLib.io_add_watch(sys.stdin.fileno(), GLib.IO_IN | GLib.IO_HUP, readable)
    reply(ready=True, name=name.get_name())
    loop.run()


if __name__ == "__main__":
    main()
