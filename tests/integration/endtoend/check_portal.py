"""Checks the `calls` answer of fake_portal.py (stdin).

usage: check_portal.py notify JSON         the Notify calls were exactly JSON: [[method, args], ...]
       check_portal.py restore-token TOKEN the last SelectDevices asked to persist and passed TOKEN
                                           ("none": no token)
       check_portal.py count METHOD N      METHOD was called N times
"""
import json
import sys


def main():
    reply = json.load(sys.stdin)
    if not reply.get("ok"):
        print(f"fake portal: {reply}", file=sys.stderr)
        return 1
    calls = reply["calls"]
    what, *args = sys.argv[1:]
    if what == "notify":
        seen = [[c["method"], c["args"]] for c in calls if c["method"].startswith("Notify")]
        wanted = json.loads(args[0])
        problem = None if seen == wanted else f"Notify calls {seen}"
    elif what == "restore-token":
        options = [c["args"][1] for c in calls if c["method"] == "SelectDevices"][-1]
        token = options.get("restore_token", "none")
        problem = None
        if options.get("persist_mode") != 2 or token != args[0]:
            problem = f"SelectDevices options {options}"
    else:
        count = sum(1 for c in calls if c["method"] == args[0])
        problem = None if count == int(args[1]) else f"{args[0]} called {count} times"
    if problem:
        print(problem, file=sys.stderr)
        return 1
    return 0


sys.exit(main())
