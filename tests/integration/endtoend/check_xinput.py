"""Checks the events that `xinput test-xi2 --root` recorded (stdin) during the pairing scenario.

The phone sent: click, rightClick, middleClick, scroll up, click with Shift, key undo
(Command+Z, which the desktop sees as Ctrl+Z) and navigate next (Control+Right, seen as
Super+Right).
"""
import re
import sys

SHIFT, CONTROL, SUPER = 0x1, 0x4, 0x40
KEY_Z, KEY_RIGHT = 52, 114


def events(text):
    for block in re.split(r"^EVENT type ", text, flags=re.M)[1:]:
        kind = re.match(r"\d+ \((\w+)\)", block).group(1)
        detail = re.search(r"^\s+detail: (\d+)", block, re.M)
        mods = re.search(r"^\s+modifiers: .*effective: (0x[0-9a-f]+|\d+)", block, re.M)
        yield kind, int(detail.group(1)) if detail else None, int(mods.group(1), 0) if mods else 0


def main():
    seen = set(events(sys.stdin.read()))
    presses = {(d, m) for k, d, m in seen if k == "ButtonPress"}
    keys = {(d, m) for k, d, m in seen if k == "KeyPress"}
    wanted = {
        "left click": (1, 0) in presses,
        "right click": (3, 0) in presses,
        "middle click": (2, 0) in presses,
        "scroll up (button 4)": any(d == 4 for d, _ in presses),
        "shift-click": (1, SHIFT) in presses,
        "Ctrl+Z": any(d == KEY_Z and m & CONTROL for d, m in keys),
        "Super+Right": any(d == KEY_RIGHT and m & SUPER for d, m in keys),
        "no modifier left on plain clicks": not any(d == 3 and m for d, m in presses),
    }
    missing = [name for name, ok in wanted.items() if not ok]
    for name in missing:
        print(f"missing: {name}", file=sys.stderr)
    return 1 if missing else 0


sys.exit(main())
