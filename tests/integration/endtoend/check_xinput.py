"""Checks the events that `xinput test-xi2 --root` recorded (stdin) during the pairing scenario.

The phone sent: click, rightClick, middleClick, scroll up, click with Shift, key undo
(Command+Z, which the desktop sees as Ctrl+Z), navigate next (Control+Right, the workspace to the
right: Ctrl+Alt+Right), then held Command for ten moves and a click and left without letting go.
"""
import re
import sys

SHIFT, CONTROL, ALT = 0x1, 0x4, 0x8
KEY_CONTROL, KEY_ALT, KEY_Z, KEY_RIGHT = 37, 64, 52, 114
MASTERS = {2, 3}  # every event also arrives once per slave device


def events(text):
    for block in re.split(r"^EVENT type ", text, flags=re.M)[1:]:
        kind = re.match(r"\d+ \((\w+)\)", block).group(1)
        device = re.search(r"^\s+device: (\d+)", block, re.M)
        if not device or int(device.group(1)) not in MASTERS:
            continue
        detail = re.search(r"^\s+detail: (\d+)", block, re.M)
        mods = re.search(r"^\s+modifiers: .*effective: (0x[0-9a-f]+|\d+)", block, re.M)
        yield kind, int(detail.group(1)) if detail else None, int(mods.group(1), 0) if mods else 0


def held_command(seen):
    """After navigate (its last event lets go of Alt): Control pressed once, the Command-click,
    Control released once."""
    ends = [i for i, (k, d, _) in enumerate(seen) if k == "KeyRelease" and d == KEY_ALT]
    tail = seen[ends[-1] + 1:] if ends else []
    control = [k for k, d, _ in tail if k.startswith("Key") and d == KEY_CONTROL]
    click = [i for i, (k, d, m) in enumerate(tail) if k == "ButtonPress" and d == 1 and m & CONTROL]
    press = [i for i, (k, d, _) in enumerate(tail) if k == "KeyPress" and d == KEY_CONTROL]
    release = [i for i, (k, d, _) in enumerate(tail) if k == "KeyRelease" and d == KEY_CONTROL]
    return (control == ["KeyPress", "KeyRelease"] and len(click) == 1 and
            press[0] < click[0] < release[0])


def main():
    seen = list(events(sys.stdin.read()))
    presses = {(d, m) for k, d, m in seen if k == "ButtonPress"}
    keys = {(d, m) for k, d, m in seen if k == "KeyPress"}
    wanted = {
        "left click": (1, 0) in presses,
        "right click": (3, 0) in presses,
        "middle click": (2, 0) in presses,
        "scroll up (button 4)": any(d == 4 for d, _ in presses),
        "shift-click": (1, SHIFT) in presses,
        "Ctrl+Z": any(d == KEY_Z and m & CONTROL for d, m in keys),
        "Ctrl+Alt+Right": any(d == KEY_RIGHT and m & (CONTROL | ALT) == CONTROL | ALT
                              for d, m in keys),
        "no modifier left on plain clicks": not any(d == 3 and m for d, m in presses),
        "Command held once across ten moves and a click, let go when the phone left":
            held_command(seen),
    }
    missing = [name for name, ok in wanted.items() if not ok]
    for name in missing:
        print(f"missing: {name}", file=sys.stderr)
    return 1 if missing else 0


sys.exit(main())
