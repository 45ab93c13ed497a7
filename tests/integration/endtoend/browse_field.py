"""Prints one field of a resolved _corvane._tcp service from `avahi-browse -rpt` on stdin.

usage: browse_field.py [--name NAME] (--port | --txt-id)
       browse_field.py --name-on-port PORT
Exits 1 when no resolved service (of that name, or on that port) is listed.
"""
import re
import sys


def unescape(text):
    # avahi-browse -p writes unsafe characters as \DDD (decimal).
    return re.sub(r"\\(\d{3})", lambda m: chr(int(m.group(1))), text)


def main(argv):
    name = None
    port = None
    if argv[:1] == ["--name-on-port"]:
        port, argv = argv[1], ["--name"]
    if argv[:1] == ["--name"] and port is None:
        name, argv = argv[1], argv[2:]
    for line in sys.stdin:
        fields = line.rstrip("\n").split(";")
        if len(fields) < 10 or fields[0] != "=" or fields[4] != "_corvane._tcp":
            continue
        if name is not None and unescape(fields[3]) != name:
            continue
        if port is not None:
            if fields[8] == port:
                print(unescape(fields[3]))
                return 0
            continue
        if argv == ["--port"]:
            print(fields[8])
            return 0
        if argv == ["--txt-id"]:
            entries = re.findall(r'"([^"]*)"', ";".join(fields[9:]))
            ids = [entry[3:] for entry in entries if entry.startswith("id=")]
            if len(entries) != 1 or len(ids) != 1:
                print(f"TXT record is not exactly one id: {entries}", file=sys.stderr)
                return 1
            print(ids[0])
            return 0
    return 1


sys.exit(main(sys.argv[1:]))
