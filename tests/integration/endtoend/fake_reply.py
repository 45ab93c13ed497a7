"""Checks one JSON answer of fake_bluez.py (stdin).

usage: fake_reply.py ok
       fake_reply.py error NAME                 failed with org.bluez.Error.NAME
       fake_reply.py notifications [--max-record N] [--min-records N]
                                                prints the records of `read`, joined, as text
       fake_reply.py advertising SERVICE_UUID LOCAL_NAME
                                                `status`: service registered and advertised
       fake_reply.py withdrawn                  `status`: neither application nor advertisement
"""
import json
import sys

SERVICE_IFACE = "org.bluez.GattService1"


def check_error(reply, name):
    wanted = "org.bluez.Error." + name
    if reply.get("ok") is not False or reply.get("error") != wanted:
        return f"expected {wanted}"
    return None


def notifications(reply, options):
    max_record = int(options[options.index("--max-record") + 1]) if "--max-record" in options \
        else None
    min_records = int(options[options.index("--min-records") + 1]) if "--min-records" in options \
        else 0
    if not reply.get("ok") or reply.get("closed"):
        return "not readable, or the notification socket closed"
    records = [bytes.fromhex(record) for record in reply["records"]]
    if len(records) < min_records:
        return f"{len(records)} records, expected at least {min_records}"
    if max_record is not None and any(len(record) > max_record for record in records):
        return f"a record longer than {max_record} bytes"
    # One notification never holds bytes of two lines.
    if any(b"\n" in record[:-1] for record in records):
        return "a record holding the end of one line and more"
    sys.stdout.write(b"".join(records).decode())
    return None


def advertising(reply, service_uuid, local_name):
    application = reply.get("application") or {}
    services = [interfaces[SERVICE_IFACE] for interfaces in application.values()
                if SERVICE_IFACE in interfaces]
    if not any(service.get("UUID", "").lower() == service_uuid and service.get("Primary")
               for service in services):
        return f"no primary service {service_uuid} registered"
    advertisement = reply.get("advertisement") or {}
    if [uuid.lower() for uuid in advertisement.get("ServiceUUIDs", [])] != [service_uuid] \
            or advertisement.get("LocalName") != local_name:
        return "not advertised as expected"
    return None


def main(argv):
    reply = json.loads(sys.stdin.readline())
    what = argv[0]
    if what == "ok":
        problem = None if reply.get("ok") is True else "not ok"
    elif what == "error":
        problem = check_error(reply, argv[1])
    elif what == "notifications":
        problem = notifications(reply, argv[1:])
    elif what == "advertising":
        problem = advertising(reply, argv[1], argv[2])
    elif what == "withdrawn":
        problem = "still registered" if reply.get("application") or reply.get("advertisement") \
            else None
    else:
        problem = f"unknown check {what}"
    if problem:
        print(f"{problem}: {json.dumps(reply)}", file=sys.stderr)
        return 1
    return 0


sys.exit(main(sys.argv[1:]))
