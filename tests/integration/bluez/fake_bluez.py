#!/usr/bin/python3
"""A fake BlueZ for tests: owns org.bluez on a (private) system bus and offers one adapter,
/org/bluez/hci0, with Adapter1, GattManager1 and LEAdvertisingManager1. It reads a registered
application through its ObjectManager and an advertisement through its properties, and acts as
a central on command.

Notifications follow src/gatt-database.c, in one of two models (--notify):
  shared      BlueZ 5.66 (Debian 12): one socket per characteristic, acquired for the first
              device whose CCC write enables it; later ones only count. Each record read from it
              (512 bytes at most) goes to every connected, subscribed device. It is closed when
              the count falls to zero.
  per-device  later releases: one AcquireNotify and one socket per device.
In both, a CCC write of the value already stored succeeds without further ado; a bonded device
keeps its CCC across a disconnection, another device's is cleared as if it had unsubscribed; a
socket the application closes is forgotten, but not the CCC values.

Commands, one per line on standard input; each gets exactly one JSON line on standard output
(`{"ok": true, ...}` or `{"ok": false, "error": NAME, "message": TEXT}`):

  status                          registration state, advertisement, application objects
  power on|off                    the adapter's Powered property (PropertiesChanged)
  connect DEV [bonded]            a Device1 object /org/bluez/hci0/dev_DEV, connected (again)
  disconnect DEV | remove DEV     Connected false | the device object goes
  subscribe DEV MTU               DEV enables notifications of the notifying characteristic
  unsubscribe DEV                 DEV disables them
  write DEV MTU OFFSET HEX        WriteValue on the writable characteristic ("-" = empty value)
  read DEV                        the notification records delivered to DEV, as hex
  quit
"""

import argparse
import json
import os
import socket
import sys
import uuid

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

BLUEZ = "org.bluez"
ADAPTER = "/org/bluez/hci0"
OBJECT_MANAGER = "org.freedesktop.DBus.ObjectManager"
PROPERTIES = "org.freedesktop.DBus.Properties"
ADAPTER_IFACE = "org.bluez.Adapter1"
DEVICE_IFACE = "org.bluez.Device1"
GATT_MANAGER = "org.bluez.GattManager1"
ADV_MANAGER = "org.bluez.LEAdvertisingManager1"
SERVICE_IFACE = "org.bluez.GattService1"
CHRC_IFACE = "org.bluez.GattCharacteristic1"
ADV_IFACE = "org.bluez.LEAdvertisement1"


class BluezError(dbus.DBusException):
    def __init__(self, name, message):
        super().__init__(message)
        self._dbus_error_name = "org.bluez.Error." + name


def plain(value):
    """D-Bus values as JSON-friendly ones."""
    if isinstance(value, (dbus.Boolean, bool)):
        return bool(value)
    if isinstance(value, (dbus.Array, list)):
        if value.signature == "y":
            return bytes(value).hex()
        return [plain(v) for v in value]
    if isinstance(value, (dbus.Dictionary, dict)):
        return {str(k): plain(v) for k, v in value.items()}
    if isinstance(value, int):
        return int(value)
    return str(value)


def ok(**fields):
    print(json.dumps(dict(ok=True, **fields)), flush=True)


def failed(error):
    if isinstance(error, dbus.DBusException):
        print(json.dumps({"ok": False, "error": error.get_dbus_name(),
                          "message": error.get_dbus_message()}), flush=True)
    else:
        print(json.dumps({"ok": False, "error": "fake", "message": str(error)}), flush=True)


def ad_structure(kind, data):
    return bytes([len(data) + 1, kind]) + data


def legacy_advertising_data(properties):
    """What bt_ad_generate() makes of an advertisement: the flags, then the 128-bit UUIDs."""
    data = b""
    if properties.get("Discoverable"):
        # parse_discoverable(): LE General Discoverable, and with the adapter itself not
        # discoverable, BR/EDR Not Supported (set_flags()).
        data += ad_structure(0x01, bytes([0x02 | 0x04]))
    uuids = b"".join(uuid.UUID(str(text)).bytes[::-1] for text in properties.get("ServiceUUIDs", []))
    return data + (ad_structure(0x07, uuids) if uuids else b"")


def scan_response(properties):
    """generate_scan_rsp(): the local name."""
    name = str(properties.get("LocalName", "")).encode()
    return ad_structure(0x09, name) if name else b""


class BusObject(dbus.service.Object):
    """An object whose properties clients learn from GetManagedObjects and PropertiesChanged."""

    def __init__(self, bus, path, interfaces):
        super().__init__(bus, path)
        self.interfaces = interfaces

    @dbus.service.signal(PROPERTIES, signature="sa{sv}as")
    def PropertiesChanged(self, interface, changed, invalidated):
        pass

    def change(self, interface, name, value):
        self.interfaces[interface][name] = value
        self.PropertiesChanged(interface, {name: value}, [])


class Adapter(BusObject):
    def __init__(self, bus, fake, powered, advertising):
        interfaces = {
            ADAPTER_IFACE: {"Address": "00:11:22:33:44:55", "Powered": dbus.Boolean(powered)},
            GATT_MANAGER: {},
        }
        if advertising:
            interfaces[ADV_MANAGER] = {}
        super().__init__(bus, ADAPTER, interfaces)
        self.fake = fake

    @dbus.service.method(GATT_MANAGER, in_signature="oa{sv}", sender_keyword="sender",
                         async_callbacks=("reply", "error"))
    def RegisterApplication(self, path, options, sender, reply, error):
        self.fake.register("application", sender, str(path), reply, error)

    @dbus.service.method(GATT_MANAGER, in_signature="o")
    def UnregisterApplication(self, path):
        self.fake.unregister("application", str(path))

    @dbus.service.method(ADV_MANAGER, in_signature="oa{sv}", sender_keyword="sender",
                         async_callbacks=("reply", "error"))
    def RegisterAdvertisement(self, path, options, sender, reply, error):
        self.fake.register("advertisement", sender, str(path), reply, error)

    @dbus.service.method(ADV_MANAGER, in_signature="o")
    def UnregisterAdvertisement(self, path):
        self.fake.unregister("advertisement", str(path))


class Fake(dbus.service.Object):
    """BlueZ's object manager at /, and the central side."""

    def __init__(self, bus, args):
        super().__init__(bus, "/")
        self.bus = bus
        self.args = args
        self.adapter = None
        if not args.no_adapter:
            self.adapter = Adapter(bus, self, args.powered == "on", not args.no_advertising)
        self.devices = {}
        self.bonded = set()
        # {"owner", "path", "content"}: the application's objects, the advertisement's properties
        self.application = None
        self.advertisement = None
        self.registrations = 0
        self.ccc = {}      # device -> notifications enabled
        self.sockets = {}  # the shared key None, or a device -> the socket BlueZ reads
        self.inbox = {}    # device -> records notified to it

    @dbus.service.method(OBJECT_MANAGER, out_signature="a{oa{sa{sv}}}")
    def GetManagedObjects(self):
        found = {}
        if self.adapter:
            found[dbus.ObjectPath(ADAPTER)] = self.adapter.interfaces
        for device in self.devices.values():
            found[dbus.ObjectPath(device.__dbus_object_path__)] = device.interfaces
        return found

    # GattManager1 and LEAdvertisingManager1

    def register(self, kind, sender, path, reply, error):
        """Answers only once it has read the registered objects back from their owner."""
        current = getattr(self, kind)
        if current and current["path"] == path and current["owner"] == sender:
            error(BluezError("AlreadyExists", "Already Exists"))
            return
        refusal = self.args.register_error if kind == "application" else self.args.advertise_error
        if refusal:
            name, _, text = refusal.partition(":")
            error(BluezError(name, text))
            return

        def read(content):
            if kind == "advertisement" and len(legacy_advertising_data(content)) > 31:
                # refresh_legacy_adv() cannot fit it: parse_advertisement() fails.
                error(BluezError("Failed", "Failed to parse advertisement."))
                return
            setattr(self, kind, {"owner": sender, "path": path, "content": content})
            self.registrations += kind == "application"
            reply()

        def unreadable(failure):
            error(BluezError("Failed", f"reading the {kind}: {failure}"))

        proxy = self.bus.get_object(sender, path, introspect=False)
        if kind == "application":
            proxy.GetManagedObjects(dbus_interface=OBJECT_MANAGER, reply_handler=read,
                                    error_handler=unreadable)
        else:
            proxy.GetAll(ADV_IFACE, dbus_interface=PROPERTIES, reply_handler=read,
                         error_handler=unreadable)

    def unregister(self, kind, path):
        current = getattr(self, kind)
        if not current or current["path"] != path:
            raise BluezError("DoesNotExist", "Does Not Exist")
        setattr(self, kind, None)

    @dbus.service.signal(OBJECT_MANAGER, signature="oa{sa{sv}}")
    def InterfacesAdded(self, path, interfaces):
        pass

    @dbus.service.signal(OBJECT_MANAGER, signature="oas")
    def InterfacesRemoved(self, path, interfaces):
        pass

    # The central side

    def characteristic(self, flag):
        if not self.application:
            raise BluezError("Failed", "no application registered")
        for path, interfaces in self.application["content"].items():
            chrc = interfaces.get(CHRC_IFACE)
            if chrc and flag in [str(f) for f in chrc.get("Flags", [])]:
                return self.bus.get_object(self.application["owner"], path, introspect=False)
        raise BluezError("Failed", "no characteristic with flag " + flag)

    def device_path(self, name):
        return ADAPTER + "/dev_" + name

    def cmd_status(self):
        advertised = self.advertisement and self.advertisement["content"]
        ok(registrations=self.registrations,
           application=self.application and plain(self.application["content"]),
           advertisement=advertised and plain(advertised),
           advertising_data=advertised and legacy_advertising_data(advertised).hex(),
           scan_response=advertised and scan_response(advertised).hex(),
           powered=self.adapter and bool(self.adapter.interfaces[ADAPTER_IFACE]["Powered"]))

    def cmd_power(self, state):
        self.adapter.change(ADAPTER_IFACE, "Powered", dbus.Boolean(state == "on"))
        ok()

    def cmd_connect(self, name, bonded=None):
        if bonded:
            self.bonded.add(name)
        if name in self.devices:
            self.devices[name].change(DEVICE_IFACE, "Connected", dbus.Boolean(True))
            return ok(path=self.device_path(name))
        path = self.device_path(name)
        interfaces = {DEVICE_IFACE: {"Connected": dbus.Boolean(True),
                                     "Paired": dbus.Boolean(name in self.bonded),
                                     "Adapter": dbus.ObjectPath(ADAPTER)}}
        self.devices[name] = BusObject(self.bus, path, interfaces)
        self.InterfacesAdded(path, interfaces)
        ok(path=path)

    def connected(self, name):
        device = self.devices.get(name)
        return device and bool(device.interfaces[DEVICE_IFACE]["Connected"])

    # att_disconnected(): only a bonded device's state outlives the connection.
    def cmd_disconnect(self, name):
        self.devices[name].change(DEVICE_IFACE, "Connected", dbus.Boolean(False))
        if name not in self.bonded:
            self.disable(name)
        ok()

    # The device object goes without a Connected change first, as when it is removed.
    def cmd_remove(self, name):
        self.devices.pop(name).remove_from_connection()
        self.InterfacesRemoved(self.device_path(name), [DEVICE_IFACE])
        self.bonded.discard(name)
        self.disable(name)
        ok()

    def options(self, name, mtu, offset=0):
        options = {"device": dbus.ObjectPath(self.device_path(name)),
                   "mtu": dbus.UInt16(int(mtu)), "link": "LE"}
        if int(offset):
            options["offset"] = dbus.UInt16(int(offset))
        return dbus.Dictionary(options, signature="sv")

    def key(self, name):
        return None if self.args.notify == "shared" else name

    # gatt_ccc_write_cb() and ccc_write_cb() for the notifying characteristic.
    def cmd_subscribe(self, name, mtu):
        chrc = self.characteristic("notify")
        if self.ccc.get(name):
            return ok(acquired=False)
        self.ccc[name] = True
        if self.key(name) in self.sockets:
            return ok(acquired=False)

        def acquired(fd, reply_mtu):
            self.sockets[self.key(name)] = sock = socket.socket(fileno=fd.take())
            sock.setblocking(False)
            ok(acquired=True, mtu=int(reply_mtu), type=sock.type)

        chrc.AcquireNotify(self.options(name, mtu), dbus_interface=CHRC_IFACE,
                           reply_handler=acquired, error_handler=failed)

    def cmd_unsubscribe(self, name):
        self.disable(name)
        ok()

    def disable(self, name):
        if not self.ccc.pop(name, False):
            return
        key = self.key(name)
        if key in self.sockets and not any(self.key(other) == key for other in self.ccc):
            self.sockets.pop(key).close()

    # sock_io_read(): each record, read with a 512-byte buffer, to every device it concerns.
    def pump(self):
        for key, sock in list(self.sockets.items()):
            while True:
                try:
                    record = sock.recv(512)
                except BlockingIOError:
                    break
                if not record:
                    del self.sockets[key]  # sock_hup(): the CCC values stay
                    sock.close()
                    break
                for name in self.ccc:
                    if self.key(name) == key and self.connected(name):
                        self.inbox.setdefault(name, []).append(record.hex())

    def cmd_write(self, name, mtu, offset, value):
        chrc = self.characteristic("write")
        data = b"" if value == "-" else bytes.fromhex(value)
        chrc.WriteValue(dbus.ByteArray(data), self.options(name, mtu, offset),
                        dbus_interface=CHRC_IFACE, reply_handler=lambda: ok(),
                        error_handler=failed)

    def cmd_read(self, name):
        ok(records=self.inbox.pop(name, []), closed=self.key(name) not in self.sockets)

    def cmd_quit(self):
        ok()
        GLib.idle_add(self.loop.quit)

    def handle(self, line):
        words = line.split()
        if not words:
            return
        # Records the application has written are BlueZ's before anything that follows them.
        self.pump()
        try:
            getattr(self, "cmd_" + words[0].replace("-", "_"))(*words[1:])
        except Exception as error:  # every command answers, even a broken one
            failed(error)


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--bus", help="bus address (default: DBUS_SYSTEM_BUS_ADDRESS)")
    parser.add_argument("--powered", choices=["on", "off"], default="on")
    parser.add_argument("--no-adapter", action="store_true")
    parser.add_argument("--no-advertising", action="store_true",
                        help="an adapter without LEAdvertisingManager1")
    parser.add_argument("--notify", choices=["shared", "per-device"], default="shared",
                        help="notification sockets as in BlueZ 5.66 (shared) or later releases")
    parser.add_argument("--register-error", metavar="NAME:TEXT",
                        help="refuse RegisterApplication with org.bluez.Error.NAME TEXT")
    parser.add_argument("--advertise-error", metavar="NAME:TEXT",
                        help="refuse RegisterAdvertisement with org.bluez.Error.NAME TEXT")
    args = parser.parse_args()

    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    address = args.bus or os.environ.get("DBUS_SYSTEM_BUS_ADDRESS")
    bus = dbus.bus.BusConnection(address) if address else dbus.SystemBus()
    fake = Fake(bus, args)
    name = dbus.service.BusName(BLUEZ, bus, do_not_queue=True)
    loop = GLib.MainLoop()
    fake.loop = loop

    pending = [b""]

    def readable(source, condition):
        chunk = os.read(sys.stdin.fileno(), 65536)
        if not chunk:
            loop.quit()
            return False
        *lines, rest = (pending.pop() + chunk).split(b"\n")
        pending.append(rest)
        for line in lines:
            fake.handle(line.decode())
        return True

    GLib.io_add_watch(sys.stdin.fileno(), GLib.IO_IN | GLib.IO_HUP, readable)
    ok(ready=True, name=name.get_name())
    loop.run()


if __name__ == "__main__":
    main()
