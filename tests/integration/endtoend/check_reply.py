"""Checks the first reply line that corvane-touch printed (stdin).

usage: check_reply.py accepted|rejected [--host-id ID] [--token | --no-token]
"""
import json
import sys


def main(argv):
    lines = [line for line in sys.stdin.read().splitlines() if line.strip()]
    if not lines:
        print("no reply at all", file=sys.stderr)
        return 1
    reply = json.loads(lines[0])
    expected_kind, options = argv[0], argv[1:]
    problems = []
    if reply.get("kind") != expected_kind:
        problems.append(f"kind {reply.get('kind')!r}, expected {expected_kind!r}")
    if "--host-id" in options:
        host_id = options[options.index("--host-id") + 1]
        if reply.get("hostID") != host_id:
            problems.append(f"hostID {reply.get('hostID')!r}, advertised {host_id!r}")
    if "--token" in options and len(reply.get("token", "")) != 44:
        problems.append("no 44-character token")
    if "--no-token" in options and "token" in reply:
        problems.append("a token although none was due")
    if expected_kind == "accepted" and ("clientID" in reply or "code" in reply):
        problems.append("clientID or code echoed")
    if expected_kind == "rejected" and set(reply) != {"kind"}:
        problems.append(f"rejection carries {sorted(reply)}")
    for problem in problems:
        print(problem, file=sys.stderr)
    print(lines[0], file=sys.stderr)
    return 1 if problems else 0


sys.exit(main(sys.argv[1:]))
