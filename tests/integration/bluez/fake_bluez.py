#!/usr/bin/python3
"""A fake BlueZ: org.bluez with one adapter, /org/bluez/hci0, on the system bus (its address
from DBUS_SYSTEM_BUS_ADDRESS). It reads registered objects back as BlueZ does and plays the centrals; --notify
"shared" hands out notification sockets as BlueZ 5.66 (one per characteristic, for the first
device that enables it, closed when none is left), "per-device" as later releases. Commands, one
a line on stdin, each answered by one JSON line: status, power on|off, connect DEV [bonded],
disconnect DEV, remove DEV, subscribe DEV MTU, unsubscribe DEV, write DEV MTU OFFSET HEX|-,
read DEV, quit."""
import argparse, json, os, socket, uuid
import dbus, dbus.mainloop.glib, dbus.service
from gi.repository import GLib

ADAPTER, DEVICE, CHRC = "org.bluez.Adapter1", "org.bluez.Device1", "org.bluez.GattCharacteristic1"
GATT, ADVERTISING = "org.bluez.GattManager1", "org.bluez.LEAdvertisingManager1"
OBJECTS, PROPERTIES = "org.freedesktop.DBus.ObjectManager", "org.freedesktop.DBus.Properties"
HCI0 = "/org/bluez/hci0"


class BluezError(dbus.DBusException):
    def __init__(self, name, message):
        super().__init__(message)
        self._dbus_error_name = "org.bluez.Error." + name


def plain(value):
    if isinstance(value, dbus.Array) and value.signature == "y":
        return bytes(value).hex()
    if isinstance(value, (dbus.Array, list)):
        return [plain(v) for v in value]
    if isinstance(value, (dbus.Dictionary, dict)):
        return {str(k): plain(v) for k, v in value.items()}
    return bool(value) if isinstance(value, dbus.Boolean) else value


def answer(**fields):
    print(json.dumps(dict(ok=True, **fields)), flush=True)


def failed(error):
    ours = isinstance(error, dbus.DBusException)
    print(json.dumps({"ok": False, "error": error.get_dbus_name() if ours else "fake",
                      "message": error.get_dbus_message() if ours else str(error)}), flush=True)


def structure(kind, data):
    return bytes([len(data) + 1, kind]) + data if data else b""


def advertising_data(ad):
    """bt_ad_generate(): LE General Discoverable and BR/EDR Not Supported, then the UUIDs."""
    flags = structure(0x01, b"\x06") if ad.get("Discoverable") else b""
    uuids = b"".join(uuid.UUID(str(u)).bytes[::-1] for u in ad.get("ServiceUUIDs", []))
    return flags + structure(0x07, uuids)


class BusObject(dbus.service.Object):
    def __init__(self, bus, path, interfaces):
        super().__init__(bus, path)
        self.interfaces = interfaces

    @dbus.service.signal(PROPERTIES, signature="sa{sv}as")
    def PropertiesChanged(self, interface, changed, invalidated):
        pass

    def change(self, interface, name, value):
        self.interfaces[interface][name] = dbus.Boolean(value)
        self.PropertiesChanged(interface, {name: dbus.Boolean(value)}, [])


class Adapter(BusObject):
    def __init__(self, fake, args):
        interfaces = {ADAPTER: {"Powered": dbus.Boolean(args.powered == "on")}, GATT: {}}
        interfaces.update({} if args.no_advertising else {ADVERTISING: {}})
        super().__init__(fake.bus, HCI0, interfaces)
        self.fake = fake

    @dbus.service.method(GATT, in_signature="oa{sv}", sender_keyword="sender",
                         async_callbacks=("reply", "error"))
    def RegisterApplication(self, path, options, sender, reply, error):
        self.fake.register("application", sender, path, reply, error)

    @dbus.service.method(GATT, in_signature="o")
    def UnregisterApplication(self, path):
        self.fake.unregister("application", path)

    @dbus.service.method(ADVERTISING, in_signature="oa{sv}", sender_keyword="sender",
                         async_callbacks=("reply", "error"))
    def RegisterAdvertisement(self, path, options, sender, reply, error):
        self.fake.register("advertisement", sender, path, reply, error)

    @dbus.service.method(ADVERTISING, in_signature="o")
    def UnregisterAdvertisement(self, path):
        self.fake.unregister("advertisement", path)


class Fake(dbus.service.Object):
    def __init__(self, bus, args):
        super().__init__(bus, "/")
        self.bus, self.args = bus, args
        self.adapter = None if args.no_adapter else Adapter(self, args)
        self.devices, self.bonded = {}, set()
        self.registered = {"application": None, "advertisement": None}  # owner, path, content
        self.ccc, self.sockets, self.inbox = {}, {}, {}  # per device; sockets by key()

    @dbus.service.method(OBJECTS, out_signature="a{oa{sa{sv}}}")
    def GetManagedObjects(self):
        found = [self.adapter] if self.adapter else []
        return {o.__dbus_object_path__: o.interfaces for o in found + list(self.devices.values())}

    @dbus.service.signal(OBJECTS, signature="oa{sa{sv}}")
    def InterfacesAdded(self, path, interfaces):
        pass

    @dbus.service.signal(OBJECTS, signature="oas")
    def InterfacesRemoved(self, path, interfaces):
        pass

    def register(self, kind, sender, path, reply, error):
        """Answers once it has read the objects back from their owner, as BlueZ does."""
        refusal = self.args.register_error if kind == "application" else self.args.advertise_error
        if refusal:
            return error(BluezError(*refusal.split(":", 1)))

        def read(content):
            if kind == "advertisement" and len(advertising_data(content)) > 31:
                return error(BluezError("Failed", "Failed to parse advertisement."))
            self.registered[kind] = {"owner": sender, "path": path, "content": content}
            reply()
        proxy = self.bus.get_object(sender, path, introspect=False)
        if kind == "application":
            proxy.GetManagedObjects(dbus_interface=OBJECTS, reply_handler=read,
                                    error_handler=error)
        else:
            proxy.GetAll("org.bluez.LEAdvertisement1", dbus_interface=PROPERTIES,
                         reply_handler=read, error_handler=error)

    def unregister(self, kind, path):
        if not self.registered[kind] or self.registered[kind]["path"] != path:
            raise BluezError("DoesNotExist", "Does Not Exist")
        self.registered[kind] = None

    def characteristic(self, flag):
        application = self.registered["application"] or {"content": {}}
        for path, interfaces in application["content"].items():
            if flag in interfaces.get(CHRC, {}).get("Flags", []):
                return self.bus.get_object(application["owner"], path, introspect=False)
        raise BluezError("Failed", "no characteristic with flag " + flag)

    def cmd_status(self):
        ad = (self.registered["advertisement"] or {}).get("content")
        name = str(ad.get("LocalName", "")).encode() if ad else b""
        answer(application=plain((self.registered["application"] or {}).get("content")),
               advertisement=plain(ad), advertising_data=ad and advertising_data(ad).hex(),
               scan_response=ad and structure(0x09, name).hex())

    def cmd_power(self, state):
        self.adapter.change(ADAPTER, "Powered", state == "on")
        answer()

    def cmd_connect(self, name, bonded=None):
        self.bonded |= {name} if bonded else set()
        path = HCI0 + "/dev_" + name
        if name in self.devices:
            self.devices[name].change(DEVICE, "Connected", True)
        else:
            interfaces = {DEVICE: {"Connected": dbus.Boolean(True)}}
            self.devices[name] = BusObject(self.bus, path, interfaces)
            self.InterfacesAdded(path, interfaces)
        answer(path=path)

    def cmd_disconnect(self, name):  # att_disconnected(): only a bond outlives the connection
        self.devices[name].change(DEVICE, "Connected", False)
        if name not in self.bonded:
            self.disable(name)
        answer()

    def cmd_remove(self, name):  # the device object goes without a Connected change first
        self.devices.pop(name).remove_from_connection()
        self.InterfacesRemoved(HCI0 + "/dev_" + name, [DEVICE])
        self.bonded.discard(name)
        self.disable(name)
        answer()

    def options(self, name, mtu, offset=0):
        offset = {"offset": dbus.UInt16(int(offset))} if int(offset) else {}
        return dbus.Dictionary({"device": dbus.ObjectPath(HCI0 + "/dev_" + name), "link": "LE",
                                "mtu": dbus.UInt16(int(mtu)), **offset}, signature="sv")

    def key(self, name):
        return None if self.args.notify == "shared" else name

    def cmd_subscribe(self, name, mtu):  # the CCC write: AcquireNotify unless a socket serves
        chrc = self.characteristic("notify")
        if self.ccc.get(name) or self.key(name) in self.sockets:
            self.ccc[name] = True
            return answer(acquired=False)
        self.ccc[name] = True

        def acquired(fd, reply_mtu):
            self.sockets[self.key(name)] = sock = socket.socket(fileno=fd.take())
            sock.setblocking(False)
            answer(acquired=True, mtu=int(reply_mtu))
        chrc.AcquireNotify(self.options(name, mtu), dbus_interface=CHRC, reply_handler=acquired,
                           error_handler=failed)

    def cmd_unsubscribe(self, name):
        self.disable(name)
        answer()

    def disable(self, name):
        key = self.key(name)
        if self.ccc.pop(name, False) and key in self.sockets and \
                not any(self.key(d) == key for d in self.ccc):
            self.sockets.pop(key).close()

    def pump(self):
        """sock_io_read(): records read 512 bytes at a time, to each subscribed connected device."""
        for key, sock in list(self.sockets.items()):
            while True:
                try:
                    record = sock.recv(512)
                except BlockingIOError:
                    break
                if not record:  # sock_hup(): the CCC values stay
                    self.sockets.pop(key).close()
                    break
                for name in self.ccc:
                    if self.key(name) == key and self.devices[name].interfaces[DEVICE]["Connected"]:
                        self.inbox.setdefault(name, []).append(record.hex())

    def cmd_write(self, name, mtu, offset, value):
        data = b"" if value == "-" else bytes.fromhex(value)
        self.characteristic("write").WriteValue(
            dbus.ByteArray(data), self.options(name, mtu, offset), dbus_interface=CHRC,
            reply_handler=answer, error_handler=failed)

    def cmd_read(self, name):
        answer(records=self.inbox.pop(name, []), closed=self.key(name) not in self.sockets)

    def cmd_quit(self):
        answer()
        GLib.idle_add(self.loop.quit)

    def handle(self, line):
        self.pump()  # what the application wrote came before this command
        try:
            words = line.split()
            getattr(self, "cmd_" + words[0])(*words[1:])
        except Exception as error:  # every command answers, even a broken one
            failed(error)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--powered", choices=["on", "off"], default="on")
    parser.add_argument("--no-adapter", action="store_true")
    parser.add_argument("--no-advertising", action="store_true")
    parser.add_argument("--notify", choices=["shared", "per-device"], default="shared")
    parser.add_argument("--register-error", metavar="NAME:TEXT")
    parser.add_argument("--advertise-error", metavar="NAME:TEXT")
    args = parser.parse_args()
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SystemBus()
    fake = Fake(bus, args)
    name = dbus.service.BusName("org.bluez", bus, do_not_queue=True)
    fake.loop = GLib.MainLoop()

    pending = [b""]

    def readable(source, condition):
        chunk = os.read(0, 65536)
        *lines, pending[0] = (pending[0] + chunk).split(b"\n")
        for line in filter(None, lines):
            fake.handle(line.decode())
        return bool(chunk) or fake.loop.quit()
    GLib.io_add_watch(0, GLib.IO_IN | GLib.IO_HUP, readable)
    answer(ready=True, name=name.get_name())
    fake.loop.run()


if __name__ == "__main__":
    main()
