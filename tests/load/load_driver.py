#!/usr/bin/env python3
"""load_driver.py SCENARIO PID OUTPUT LOG [--long] [--host HOST]: the phones of a load scenario
against `corvane --headless` (run.sh), judged from outside: its printed lines, /proc, the X
pointer, the sockets. Prints one line of figures, or "FAIL: ..." and exits 1."""

import contextlib
import json
import os
import random
import re
import socket
import struct
import subprocess
import sys
import threading
import time
import uuid
from concurrent.futures import ThreadPoolExecutor

READY, CONNECTED = "Ready for pairing", "Touch device connected"
PAUSED = "Too many wrong codes: pairing by code is paused"
FREE_GUESSES, GUESS_INTERVAL = 5, 40.0  # the receiver's pairing budget
LIMIT = 16384  # the longest line a connection may buffer
# The size of each scenario: bounded (CI), and --long.
SIZES = {"refuse": (10000, 100000), "flood": (200000, 1000000), "overlong": (8, 200),
         "silent": (32, 180), "vanish": (1, 3), "guess": (10, 60)}
HOST, PORT, PID, OUTPUT, LOG = "127.0.0.1", 55440, 0, "", ""


class LoadFailure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise LoadFailure(message)


def wait_until(done, seconds, failure, interval=0.02, start=None):
    """Seconds from `start` (default now) until `done()`; fails with `failure()` on time-out."""
    start = time.monotonic() if start is None else start
    while not done():
        check(time.monotonic() - start < seconds, failure())
        time.sleep(interval)
    return time.monotonic() - start


def values(key):
    with open(OUTPUT, encoding="utf-8", errors="replace") as file:
        return [line[len(key) + 2:] for line in file.read().splitlines() if line.startswith(key + ": ")]


def ready_count():
    return values("status").count(READY)


def wait_ready_after(count, seconds, start=None):
    """Seconds until "Ready for pairing" has been printed more than `count` times."""
    return wait_until(lambda: rss() and ready_count() > count, seconds,
                      lambda: f"not {READY} within {seconds} s", start=start)


def rss():
    check(os.path.exists(f"/proc/{PID}"), "the receiver has exited")
    with open(f"/proc/{PID}/status") as file:
        return int(re.search(r"^VmRSS:\s+(\d+)", file.read(), re.MULTILINE)[1])


def cpu_seconds():
    with open(f"/proc/{PID}/stat") as file:
        fields = file.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def fds():
    return len(os.listdir(f"/proc/{PID}/fd"))


def pointer():
    out = subprocess.run(["xdotool", "getmouselocation", "--shell"], check=True,
                         capture_output=True, text=True).stdout
    return tuple(int(value) for value in re.findall(r"^[XY]=(\d+)", out, re.MULTILINE))


def line(**fields):
    return (json.dumps(fields, separators=(",", ":")) + "\n").encode()


def move(dx, dy):
    return line(kind="move", dx=dx, dy=dy)


def hello(code, client_id=None, token=None):
    fields = {"code": code} if token is None else {"token": token}
    return line(kind="hello", clientID=client_id or str(uuid.uuid4()).upper(), **fields)


def closed(sock, seconds):
    """Whether the receiver ends the connection within `seconds` without sending a byte."""
    sock.settimeout(seconds)
    try:
        data = sock.recv(4096)
    except socket.timeout:
        return False
    except ConnectionResetError:
        return True
    check(not data, f"the receiver sent {data!r}")
    return True


class Phone:
    def __init__(self):
        self.sock = socket.create_connection((HOST, PORT), timeout=5.0)
        self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.pending, self.send, self.close = b"", self.sock.sendall, self.sock.close
        self.expected, self.step, self.latencies = (640, 400), 40, []

    def reply(self):
        while b"\n" not in self.pending:
            chunk = self.sock.recv(4096)
            check(chunk, "the receiver closed the connection instead of replying")
            self.pending += chunk
        text, self.pending = self.pending.split(b"\n", 1)
        return json.loads(text)

    def pair(self, code=None, client_id=None, token=None):
        client_id = client_id or str(uuid.uuid4()).upper()
        self.send(hello(code, client_id, token))
        answer = self.reply()
        check(answer.get("kind") == "accepted", f"refused: {answer}")
        return client_id, token or answer["token"]

    def probe(self, seconds=10.0):
        """Moves the pointer by a known step and waits for it there: input that nets to zero may
        travel in between; a lost or reordered message leaves the pointer off its spot."""
        self.step = -self.step
        self.expected = (self.expected[0] + self.step, self.expected[1] + self.step)
        started = time.monotonic()
        self.send(move(self.step, self.step))
        self.latencies.append(wait_until(
            lambda: pointer() == self.expected, seconds,
            lambda: f"input stalled: pointer at {pointer()}, not {self.expected}", 0.005, started))

    def summary(self):
        return f"{len(self.latencies)} input checks ok (slowest {max(self.latencies) * 1000:.0f} ms)"


def admit():
    phone = Phone()
    phone.pair(values("code")[-1])
    check(values("status")[-1] == CONNECTED, "not connected after pairing")
    subprocess.run(["xdotool", "mousemove", *map(str, phone.expected)], check=True)
    phone.probe()
    return phone


def leave(phone, seconds=5.0):
    """Closes a phone that holds the slot; returns how long the slot took to free."""
    before, closed_at = ready_count(), time.monotonic()
    phone.close()
    return wait_ready_after(before, seconds, closed_at)


def scenario_refuse(attempts):
    """Attempts from 32 threads, every tenth with the code, each closed without a byte."""
    phone, ready, stop, code = admit(), ready_count(), threading.Event(), values("code")[-1]

    def keep_probing():
        while not stop.is_set():
            phone.send((move(1, 1) + move(-1, -1)) * 50)
            phone.probe()

    def attempt(index):
        with socket.create_connection((HOST, PORT), timeout=10) as sock:
            if index % 10 == 0:
                with contextlib.suppress(OSError):
                    sock.sendall(hello(code))
            return closed(sock, 10)

    started = time.monotonic()
    with ThreadPoolExecutor(33) as pool:
        probing = pool.submit(keep_probing)
        try:
            refused = sum(pool.map(attempt, range(attempts)))
        finally:
            stop.set()
        probing.result()
    elapsed = time.monotonic() - started
    check(refused == attempts, f"{refused} of {attempts} refused")
    check(len(phone.latencies) > 3, f"only {len(phone.latencies) - 1} input checks during the storm")
    check(ready_count() == ready, "the admitted phone lost its slot")
    leave(phone)
    return (f"{refused}/{attempts} attempts refused in {elapsed:.1f} s ({refused / elapsed:.0f}/s)"
            f" while one phone stayed admitted; {phone.summary()} meanwhile")


def scenario_flood(messages):
    phone, batch, samples = admit(), (move(1, 1) + move(-1, -1)) * 500, []
    cpu, started = cpu_seconds(), time.monotonic()
    for index in range(1, messages // 1000 + 1):
        phone.send(batch)
        if index % max(1, messages // 10000) == 0:
            # Once the probe arrives, everything sent before it has been handled.
            phone.probe(60.0)
            samples.append(rss())
    elapsed, cpu = time.monotonic() - started, cpu_seconds() - cpu
    leave(phone)
    growth = max(samples[1:]) - samples[0]
    check(growth <= 1024, f"RSS grew {growth} KiB after warm-up: {samples}")
    return (f"{messages} messages in {elapsed:.1f} s ({messages / elapsed:.0f}/s, receiver CPU "
            f"{cpu * 1e6 / messages:.0f} us a message); RSS {samples[0] / 1024:.1f} MiB after "
            f"warm-up, peak {max(samples) / 1024:.1f}, growth {growth} KiB; {phone.summary()}")


def fill_without_newline(phone, limit=32 << 20):
    """The bytes the kernel took of `limit` without a newline before the receiver reset it."""
    chunk, sent, deadline = b"x" * 65536, 0, time.monotonic() + 10
    phone.sock.setblocking(False)
    while time.monotonic() < deadline and sent < limit:
        try:
            sent += phone.sock.send(chunk[:limit - sent])
        except (BlockingIOError, InterruptedError):
            time.sleep(0.01)
        except (ConnectionResetError, BrokenPipeError):
            return sent
    raise LoadFailure(f"{sent} bytes without a newline accepted")


def scenario_overlong(rounds):
    before, taken, frees, client_id, token = rss(), [], [], None, None
    for index in range(rounds):
        ready, phone = ready_count(), Phone()
        if index % 2:
            # An admitted phone gets no more room than a stranger.
            client_id, token = phone.pair(None if token else values("code")[-1], client_id, token)
        if index % 4 < 2:
            phone.send(b"x" * LIMIT)
            check(not closed(phone.sock, 0.5), "cut off at or below the limit")
            phone.send(b"x")
            check(closed(phone.sock, 3.0), "still connected one byte above the limit")
        else:
            taken.append(fill_without_newline(phone))
        frees.append(wait_ready_after(ready, 5.0))
        phone.close()
    check(rss() - before <= 1024, f"RSS grew {rss() - before} KiB over the floods")
    return (f"{rounds} connections cut off: {rounds - len(taken)} kept at {LIMIT} bytes and cut "
            f"at {LIMIT + 1}, {len(taken)} offered 32 MiB and reset after at most "
            f"{max(taken, default=0) // 1024} KiB reached the sockets; slot free again after at "
            f"most {max(frees) * 1000:.1f} ms")


def scenario_silent(hold):
    ready, silent, started, refused = ready_count(), Phone(), time.monotonic(), 0
    while time.monotonic() - started < hold:
        time.sleep(1.0)
        with socket.create_connection((HOST, PORT)) as intruder:
            intruder.sendall(hello(values("code")[-1]))
            check(closed(intruder, 3.0), "a second connection was admitted")
        refused += 1
        check(ready_count() == ready, "the silent client lost its slot")
    held, freed = time.monotonic() - started, leave(silent, 2.0)
    leave(admit())
    return (f"a silent client kept the slot for {held:.0f} s while {refused} others were "
            f"refused; slot free {freed * 1000:.1f} ms after it closed, next phone admitted")


def scenario_vanish(rounds):
    """Runs in the phone's own namespace, where its packets are then dropped."""
    times = []
    for _ in range(rounds):
        phone, ready, vanished = admit(), ready_count(), time.monotonic()
        subprocess.run(["ip", "route", "add", "blackhole", HOST], check=True)
        try:
            times.append(wait_ready_after(ready, 50, vanished))
        finally:
            subprocess.run(["ip", "route", "del", "blackhole", HOST], check=True)
            # A reset, not a FIN that would wait for the dead link.
            phone.sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            phone.close()
        check(times[-1] <= 35, f"slot freed {times[-1]:.1f} s after the phone vanished")
    leave(admit())
    return (f"{rounds} vanished phone(s): slot free after "
            f"{', '.join(f'{t:.1f}' for t in times)} s (bound 35 s), next phone admitted")


def compared_codes(since, until):
    """(time, count) of each security log line of a code compared and found wrong; run.sh stamps
    them with the monotonic clock, and a run of them is logged once, then as "N more time(s)"."""
    with open(LOG, encoding="utf-8", errors="replace") as log:
        found = [re.match(r"^\s*([0-9.]+) corvane\.security: .*rejected: no right code or token"
                          r"(: (\d+) more time\(s\), the last from )?", entry) for entry in log]
    return [(float(m[1]), int(m[3] or 1)) for m in found
            if m and since - 0.001 <= float(m[1]) <= until]


def scenario_guess(seconds):
    phone = Phone()
    client_id, token = phone.pair(values("code")[-1])
    leave(phone)
    hellos = connections = 0
    started = time.monotonic()
    while time.monotonic() - started < seconds:
        phone, connections = Phone(), connections + 1
        with contextlib.suppress(OSError):
            phone.send(b"".join(hello(f"{random.randrange(1000000):06d}") for _ in range(3)))
            hellos += 3
            check(all(phone.reply().get("kind") != "accepted" for _ in range(3)),
                  "a guessing client paired")
        phone.close()
    stopped = time.monotonic()
    check(values("pairing")[-1:] == [PAUSED], "pairing by code was not paused")

    # A paired phone is never held back, however the guessing went.
    phone = Phone()
    phone.pair(client_id=client_id, token=token)
    leave(phone)
    check(values("pairing")[-1] == PAUSED, "the pause ended before the token was tried")

    # The user with the right code, trying once a second.
    while True:
        check(time.monotonic() - stopped < GUESS_INTERVAL + 20, "the right code was not let in")
        phone, answer = Phone(), {}
        phone.send(hello(values("code")[-1]))
        with contextlib.suppress(OSError, LoadFailure):
            answer = phone.reply()
        if answer.get("kind") == "accepted":
            waited = time.monotonic() - stopped
            leave(phone)
            break
        phone.close()
        time.sleep(1.0)

    compared = compared_codes(started, stopped)
    count, elapsed = sum(n for _, n in compared), stopped - started
    check(count <= FREE_GUESSES + elapsed / GUESS_INTERVAL + 1, f"{count} codes compared")
    stamps = sorted(stamp for stamp, _ in compared)
    steady = [b - a for a, b in zip(stamps, stamps[1:]) if b - a > 1.0]
    figures = (f"{elapsed:.0f} s of guessing: {hellos} hellos on {connections} connections "
               f"({hellos / elapsed:.0f}/s), {count} codes compared ({FREE_GUESSES} free at once")
    if steady:
        interval = sum(steady) / len(steady)
        figures += (f", then one every {interval:.1f} s: expected time to pair by chance "
                    f"{1e6 * interval / (365.25 * 86400):.2f} years at a million comparisons")
    return (f"{figures}); a paired phone got in with its token while pairing was paused; "
            f"the right code paired {waited:.1f} s after the guessing stopped")


def main(scenario, pid, output, log, *options):
    global HOST, PID, OUTPUT, LOG
    PID, OUTPUT, LOG = int(pid), output, log
    HOST = options[options.index("--host") + 1] if "--host" in options else HOST
    try:
        before, memory = fds(), rss()
        figures = globals()["scenario_" + scenario](SIZES[scenario]["--long" in options])
        wait_until(lambda: fds() == before, 15.0,
                   lambda: f"open descriptors {before} before, {fds()} after", 0.2)
        print(f"{figures}; RSS {memory / 1024:.1f} -> {rss() / 1024:.1f} MiB; "
              f"fds {before} -> {before}", flush=True)
    except (LoadFailure, OSError) as failure:
        print(f"FAIL: {failure}", flush=True)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
