#!/usr/bin/env python3
"""The phone side of the load scenarios, run against a live `corvane --headless`.

run.sh starts the receiver in its own network namespace and hands this driver the receiver's
pid and the file its headless output goes to. Only outside witnesses count as evidence: the
receiver's published lines, its /proc entries, the X pointer (xdotool) and what the sockets see.

Every scenario prints one line of figures and exits 0, or prints "FAIL: ..." and exits 1.
"""

import argparse
import contextlib
import errno
import json
import os
import random
import re
import selectors
import socket
import struct
import subprocess
import sys
import threading
import time
import uuid

READY = "Ready for pairing"
PAUSED = "Too many wrong codes: pairing by code is paused"
# What the receiver allows: five wrong codes at once, then one per interval.
FREE_GUESSES = 5
GUESS_INTERVAL = 40.0
SECONDS_PER_YEAR = 365.25 * 24 * 3600
CONNECTING = "Touch device connecting\u2026"
CONNECTED = "Touch device connected"
BUFFER_LIMIT = 16384


class LoadFailure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise LoadFailure(message)


def mib(kib):
    return f"{kib / 1024:.1f}"


def wait_until(done, seconds, failure, interval, start=None):
    """Seconds from `start` (default now) until `done()`; fails with `failure()` on time-out."""
    start = time.monotonic() if start is None else start
    while not done():
        check(time.monotonic() - start < seconds, failure())
        time.sleep(interval)
    return time.monotonic() - start


class Receiver:
    """The receiver under test, seen from outside: its output lines and its /proc entries."""

    def __init__(self, pid, output):
        self.pid = pid
        self.output = output

    def values(self, key):
        """The values of its `key: value` lines, oldest first."""
        with open(self.output, encoding="utf-8", errors="replace") as file:
            return [line[len(key) + 2:] for line in file.read().splitlines()
                    if line.startswith(key + ": ")]

    def status(self):
        return (self.values("status") or [None])[-1]

    def ready_count(self):
        return self.values("status").count(READY)

    def code(self):
        codes = self.values("code")
        check(codes and re.fullmatch(r"\d{6}", codes[-1]), f"no pairing code in {codes[-1:]}")
        return codes[-1]

    def wait_ready_after(self, count, seconds, start=None):
        """Seconds from `start` (default now) until "Ready for pairing" has been printed more
        than `count` times."""
        def failure():
            return f"no \"{READY}\" within {seconds} s (last status: {self.status()})"

        return wait_until(lambda: self.check_alive() or self.ready_count() > count, seconds,
                          failure, 0.02, start)

    def check_alive(self):
        check(os.path.exists(f"/proc/{self.pid}/status"), "the receiver has exited")

    def rss_kib(self):
        with open(f"/proc/{self.pid}/status") as file:
            found = re.search(r"^VmRSS:\s+(\d+)", file.read(), re.MULTILINE)
        check(found, "no VmRSS for the receiver")
        return int(found[1])

    def cpu_seconds(self):
        with open(f"/proc/{self.pid}/stat") as file:
            fields = file.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    def fd_count(self):
        return len(os.listdir(f"/proc/{self.pid}/fd"))

    def wait_fds(self, baseline, seconds):
        """The receiver's descriptor count once it is back at `baseline`; closing sockets may
        linger a few seconds to hand over their last bytes."""
        wait_until(lambda: self.fd_count() == baseline, seconds,
                   lambda: f"open descriptors {baseline} before, {self.fd_count()} after", 0.2)
        return baseline


def pointer():
    out = subprocess.run(["xdotool", "getmouselocation", "--shell"], check=True,
                         capture_output=True, text=True).stdout
    values = dict(line.split("=", 1) for line in out.split())
    return int(values["X"]), int(values["Y"])


def line(**fields):
    return (json.dumps(fields, separators=(",", ":")) + "\n").encode()


def move(dx, dy):
    return line(kind="move", dx=dx, dy=dy)


def new_client_id():
    return str(uuid.uuid4()).upper()


class Phone:
    """One TCP client speaking the line protocol."""

    def __init__(self, host, port, timeout=5.0):
        self.sock = socket.create_connection((host, port), timeout=timeout)
        self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.pending = b""
        self.send = self.sock.sendall
        self.close = self.sock.close

    def reply(self, seconds=5.0):
        self.sock.settimeout(seconds)
        while b"\n" not in self.pending:
            chunk = self.sock.recv(4096)
            check(chunk, "the receiver closed the connection instead of replying")
            self.pending += chunk
        text, self.pending = self.pending.split(b"\n", 1)
        return json.loads(text)

    def pair(self, code=None, client_id=None, token=None):
        """Pairs with the code, or resumes with the token; returns (client ID, token)."""
        client_id = client_id or new_client_id()
        fields = {"code": code} if token is None else {"token": token}
        self.send(line(kind="hello", clientID=client_id, **fields))
        answer = self.reply()
        check(answer.get("kind") == "accepted" and (token or answer.get("token")),
              f"{'pairing' if token is None else 'token'} refused: {answer}")
        return client_id, token or answer["token"]

    def closed_by_peer(self, seconds):
        """Whether the receiver ends the connection within `seconds` without sending a byte."""
        self.sock.settimeout(seconds)
        try:
            data = self.sock.recv(4096)
        except socket.timeout:
            return False
        except ConnectionResetError:
            return True
        check(not data, f"the receiver sent {data!r}")
        return True


class FlowProbe:
    """Proves that an admitted phone's input reaches the X server: every probe moves the
    pointer by a known step and waits for it there. Input that nets to zero may travel in
    between; a lost or reordered message leaves the pointer off its expected spot."""

    STEP = 40

    def __init__(self, phone, start=(640, 400)):
        self.phone = phone
        subprocess.run(["xdotool", "mousemove", *map(str, start)], check=True)
        check(pointer() == start, "xdotool could not place the pointer")
        self.expected = start
        self.sign = 1
        self.latencies = []

    def probe(self, seconds=10.0):
        step = self.STEP * self.sign
        self.sign = -self.sign
        self.expected = (self.expected[0] + step, self.expected[1] + step)
        started = time.monotonic()
        self.phone.send(move(step, step))
        self.latencies.append(wait_until(
            lambda: pointer() == self.expected, seconds,
            lambda: f"input stalled: pointer at {pointer()}, expected {self.expected}", 0.005,
            started))

    def summary(self):
        worst = max(self.latencies) * 1000 if self.latencies else 0
        return f"{len(self.latencies)} input checks ok (slowest {worst:.0f} ms)"


def admit_phone(receiver, args):
    phone = Phone(args.host, args.port)
    phone.pair(receiver.code())
    check(receiver.status() == CONNECTED, f"status after pairing: {receiver.status()}")
    return phone


def admit_probed(receiver, args):
    """An admitted phone whose input is seen to reach the pointer."""
    flow = FlowProbe(admit_phone(receiver, args))
    flow.probe()
    return flow.phone, flow


def leave(receiver, phone, seconds=5.0):
    """Closes an admitted phone and returns how long the slot took to free."""
    before = receiver.ready_count()
    closed = time.monotonic()
    phone.close()
    return receiver.wait_ready_after(before, seconds, closed)


def storm(address, hello, attempts, concurrency=32, seconds=10):
    """Many connection attempts in flight at once; each must be closed by the receiver without
    a single byte. Every tenth attempt presents the current code, which must not help. Returns
    how many were refused."""
    selector = selectors.DefaultSelector()
    deadlines = {}
    started = refused = 0
    while started < attempts or deadlines:
        while started < attempts and len(deadlines) < concurrency:
            sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            sock.setblocking(False)
            result = sock.connect_ex(address)
            check(result in (0, errno.EINPROGRESS), f"connect: {os.strerror(result)}")
            selector.register(sock, selectors.EVENT_WRITE, started % 10 == 0)
            deadlines[sock] = time.monotonic() + seconds
            started += 1
        for key, events in selector.select(0.2):
            sock = key.fileobj
            if events & selectors.EVENT_WRITE:
                error = sock.getsockopt(socket.SOL_SOCKET, socket.SO_ERROR)
                check(error == 0, f"connection attempt failed: {os.strerror(error)}")
                if key.data:
                    with contextlib.suppress(OSError):
                        sock.send(hello)
                selector.modify(sock, selectors.EVENT_READ)
                continue
            try:
                data = sock.recv(4096)
            except ConnectionResetError:
                data = b""
            check(not data, f"a refused attempt received {data!r}")
            selector.unregister(sock)
            del deadlines[sock]
            sock.close()
            refused += 1
        now = time.monotonic()
        check(all(now < deadline for deadline in deadlines.values()),
              f"attempt left open for {seconds} s")
    return refused


def keep_probing(flow):
    """Has the admitted phone keep moving the pointer, and checking that it moves, in a thread
    of its own; returns the function that stops it and raises what it met."""
    stopping = threading.Event()
    errors = []

    def run():
        try:
            while not stopping.is_set():
                flow.phone.send((move(1, 1) + move(-1, -1)) * 50)
                flow.probe()
        except (LoadFailure, OSError) as error:
            errors.append(error)

    thread = threading.Thread(target=run, daemon=True)
    thread.start()

    def finish():
        stopping.set()
        thread.join(15.0)
        check(not thread.is_alive(), "the input checks hung")
        if errors:
            raise LoadFailure(f"input while refusing others: {errors[0]}")

    return finish


def scenario_refuse(receiver, args):
    phone, flow = admit_probed(receiver, args)
    ready_before = receiver.ready_count()
    hello = line(kind="hello", code=receiver.code(), clientID=new_client_id())
    started = time.monotonic()
    finish = keep_probing(flow)
    try:
        refused = storm((args.host, args.port), hello, args.attempts)
    finally:
        finish()
    elapsed = time.monotonic() - started
    check(refused == args.attempts, f"{refused} of {args.attempts} refused")
    during = len(flow.latencies) - 1
    check(during >= 3, f"only {during} input checks during the storm")
    check(receiver.status() == CONNECTED, f"status after the storm: {receiver.status()}")
    check(receiver.ready_count() == ready_before, "the admitted phone lost its slot")
    leave(receiver, phone)
    return (f"{refused}/{args.attempts} attempts refused in {elapsed:.1f} s "
            f"({refused / elapsed:.0f}/s) while one phone stayed admitted; "
            f"{flow.summary()} meanwhile")


def scenario_flood(receiver, args):
    phone, flow = admit_probed(receiver, args)
    batch = (move(1, 1) + move(-1, -1)) * 500
    batches = args.messages // 1000
    warmup = max(1, batches // 10)
    samples = []
    rss_start = receiver.rss_kib()
    cpu_start = receiver.cpu_seconds()
    started = time.monotonic()
    for index in range(batches):
        phone.send(batch)
        if (index + 1) % warmup == 0:
            # Waiting for the probe keeps the sample honest: everything sent has been handled.
            # The sockets hold tens of thousands of moves, hence the generous wait.
            flow.probe(60.0)
            samples.append(receiver.rss_kib())
    elapsed = time.monotonic() - started
    cpu = receiver.cpu_seconds() - cpu_start
    sent = batches * 1000
    leave(receiver, phone)
    rss_end = receiver.rss_kib()
    growth = max(samples[1:]) - samples[0]
    check(growth <= args.rss_bound_kib,
          f"RSS grew {growth} KiB after warm-up (bound {args.rss_bound_kib} KiB): {samples}")
    return (f"{sent} messages in {elapsed:.1f} s ({sent / elapsed:.0f}/s, receiver CPU "
            f"{cpu * 1e6 / sent:.0f} us a message); "
            f"RSS {mib(rss_start)} MiB at start, {mib(samples[0])} after warm-up, "
            f"peak {mib(max(samples))}, {mib(rss_end)} after; growth after warm-up "
            f"{growth} KiB (bound {args.rss_bound_kib}); {flow.summary()}")


def fill_without_newline(phone, limit, seconds):
    """Sends up to `limit` bytes that never end a line; returns the bytes the kernel took
    before the receiver cut the connection, or None when it never did."""
    chunk = b"x" * 65536
    sent = 0
    deadline = time.monotonic() + seconds
    phone.sock.setblocking(False)
    while time.monotonic() < deadline:
        try:
            if sent < limit:
                sent += phone.sock.send(chunk[:limit - sent])
            elif phone.sock.recv(1) == b"":
                return sent
        except (BlockingIOError, InterruptedError):
            selectors.DefaultSelector().select(0.01)
        except (ConnectionResetError, BrokenPipeError):
            return sent
    return None


def hold_at_limit(receiver, phone):
    """The buffer may hold exactly the limit; one byte more ends the connection."""
    phone.send(b"x" * BUFFER_LIMIT)
    check(not phone.closed_by_peer(0.5), "cut off at or below the limit")
    check(receiver.status() in (CONNECTING, CONNECTED), f"status at the limit: {receiver.status()}")
    phone.send(b"x")
    check(phone.closed_by_peer(3.0), "still connected one byte above the limit")


def scenario_overlong(receiver, args):
    rss_start = receiver.rss_kib()
    taken, frees = [], []
    client_id = token = None
    started = time.monotonic()
    for index in range(args.rounds):
        ready = receiver.ready_count()
        phone = Phone(args.host, args.port)
        if index % 2 == 1:
            # An admitted phone gets no more room than a stranger.
            client_id, token = phone.pair(None if token else receiver.code(), client_id, token)
        if index % 4 < 2:
            hold_at_limit(receiver, phone)
        else:
            bytes_taken = fill_without_newline(phone, args.flood_bytes, 10.0)
            check(bytes_taken is not None, f"{args.flood_bytes} bytes without a newline accepted")
            check(bytes_taken < args.flood_bytes, "the whole flood went in before the cut")
            taken.append(bytes_taken)
        frees.append(receiver.wait_ready_after(ready, 5.0))
        phone.close()
    elapsed = time.monotonic() - started
    growth = receiver.rss_kib() - rss_start
    check(growth <= args.rss_bound_kib, f"RSS grew {growth} KiB over the floods")
    most = max(taken) // 1024 if taken else 0
    return (f"{args.rounds} connections cut off in {elapsed:.1f} s: "
            f"{args.rounds - len(taken)} kept at {BUFFER_LIMIT} bytes and cut at "
            f"{BUFFER_LIMIT + 1}, {len(taken)} offered {args.flood_bytes // (1024 * 1024)} MiB "
            f"and reset after at most {most} KiB reached the sockets; slot free again "
            f"after at most {max(frees) * 1000:.1f} ms")


def scenario_silent(receiver, args):
    ready = receiver.ready_count()
    silent = Phone(args.host, args.port)
    started = time.monotonic()
    refused = 0
    while time.monotonic() - started < args.hold:
        time.sleep(1.0)
        intruder = Phone(args.host, args.port)
        intruder.send(line(kind="hello", code=receiver.code(), clientID=new_client_id()))
        check(intruder.closed_by_peer(3.0), "a second connection was admitted")
        intruder.close()
        refused += 1
        check(receiver.status() == CONNECTING, f"status while silent: {receiver.status()}")
        check(receiver.ready_count() == ready, "the silent client lost its slot")
    held = time.monotonic() - started
    freed = leave(receiver, silent, 2.0)
    leave(receiver, admit_phone(receiver, args))
    return (f"a silent client kept the slot for {held:.0f} s while {refused} others were "
            f"refused; slot free {freed * 1000:.1f} ms after it closed, next phone admitted")


def scenario_vanish(receiver, args):
    """Runs inside the phone's own namespace; its packets are then dropped at its end."""
    times = []
    for _ in range(args.rounds):
        phone, _ = admit_probed(receiver, args)
        check(receiver.status() == CONNECTED, f"status before vanishing: {receiver.status()}")
        ready = receiver.ready_count()
        vanished = time.monotonic()
        subprocess.run(["ip", "route", "add", "blackhole", args.host], check=True)
        try:
            times.append(receiver.wait_ready_after(ready, args.vanish_bound + 15, vanished))
        finally:
            subprocess.run(["ip", "route", "del", "blackhole", args.host], check=True)
            # A reset, not a FIN that would wait for the dead link.
            phone.sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            phone.close()
        check(times[-1] <= args.vanish_bound,
              f"slot freed {times[-1]:.1f} s after the phone vanished (bound {args.vanish_bound})")
    leave(receiver, admit_phone(receiver, args))
    waits = ", ".join(f"{t:.1f}" for t in times)
    return (f"{len(times)} vanished phone(s): slot free after {waits} s "
            f"(bound {args.vanish_bound} s), next phone admitted")


class SecurityLog:
    """The receiver's corvane.security lines, stamped with the monotonic clock (run.sh sets
    QT_MESSAGE_PATTERN to "%{time boot} %{category}: %{message}", the clock time.monotonic()
    reads too). A run of one outcome is logged once, then as "N more time(s)"."""

    LINE = re.compile(r"^\s*([0-9.]+) corvane\.security: (.*)$")
    MORE = re.compile(r": (\d+) more time\(s\), the last from ")

    def __init__(self, path):
        self.path = path

    def outcomes(self, text, until):
        """(time, count) of each logged outcome containing `text`, up to `until`."""
        found = []
        with open(self.path, encoding="utf-8", errors="replace") as file:
            for entry in file:
                matched = self.LINE.match(entry)
                if not matched or text not in matched[2] or float(matched[1]) > until:
                    continue
                more = self.MORE.search(matched[2])
                found.append((float(matched[1]), int(more[1]) if more else 1))
        return found


def guess_for(args, seconds):
    """Guesses random codes as fast as one client can: three per connection, connection after
    connection. Returns (hellos sent, connections, whether a guess was accepted)."""
    hellos = connections = 0
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        phone = Phone(args.host, args.port)
        batch = b"".join(line(kind="hello", code=f"{random.randrange(1000000):06d}",
                              clientID=new_client_id()) for _ in range(3))
        with contextlib.suppress(OSError):
            phone.send(batch)
            hellos += 3
            for _ in range(3):
                if phone.reply(5.0).get("kind") == "accepted":
                    return hellos, connections + 1, True
        phone.close()
        connections += 1
    return hellos, connections, False


def pair_when_allowed(receiver, args, seconds):
    """The user with the right code, trying once a second; seconds until it paired."""
    started = time.monotonic()
    while time.monotonic() - started < seconds:
        phone = Phone(args.host, args.port)
        phone.send(line(kind="hello", code=receiver.code(), clientID=new_client_id()))
        with contextlib.suppress(OSError, LoadFailure):
            if phone.reply().get("kind") == "accepted":
                waited = time.monotonic() - started
                leave(receiver, phone)
                return waited
        phone.close()
        time.sleep(1.0)
    raise LoadFailure(f"the right code was not let in within {seconds:.0f} s")


def scenario_guess(receiver, args):
    log = SecurityLog(args.log)
    phone = Phone(args.host, args.port)
    client_id, token = phone.pair(receiver.code())
    leave(receiver, phone)

    started = time.monotonic()
    hellos, connections, guessed = guess_for(args, args.seconds)
    stopped = time.monotonic()
    check(not guessed, "a guessing client paired")
    check(receiver.values("pairing")[-1:] == [PAUSED],
          f"pairing status after guessing: {receiver.values('pairing')[-1:]}")

    # A paired phone is never held back, however the guessing went.
    phone = Phone(args.host, args.port)
    phone.pair(client_id=client_id, token=token)
    leave(receiver, phone)
    check(receiver.values("pairing")[-1] == PAUSED, "the pause ended before the token was tried")

    waited = pair_when_allowed(receiver, args, GUESS_INTERVAL + 20)
    # The log's stamps are cut to the millisecond.
    compared = [(stamp, n) for stamp, n in log.outcomes("rejected: no right code or token", stopped)
                if stamp >= started - 0.001]
    stamps = sorted(stamp for stamp, _ in compared)
    count = sum(n for _, n in compared)
    check(count <= FREE_GUESSES + (stopped - started) / GUESS_INTERVAL + 1,
          f"{count} codes compared in {stopped - started:.0f} s")
    steady = [b - a for a, b in zip(stamps, stamps[1:]) if b - a > 1.0]
    figures = (f"{stopped - started:.0f} s of guessing: {hellos} hellos on {connections} "
               f"connections ({hellos / (stopped - started):.0f}/s), {count} codes compared "
               f"({FREE_GUESSES} free at once")
    if steady:
        interval = sum(steady) / len(steady)
        years = 1e6 * interval / SECONDS_PER_YEAR
        figures += (f", then one every {interval:.1f} s: expected time to pair by chance "
                    f"{years:.2f} years at a million comparisons")
    else:
        figures += ", none after them"
    return (f"{figures}); a paired phone got in with its token while pairing was paused; "
            f"the right code paired {waited:.1f} s after the guessing stopped")


SCENARIOS = {"refuse": scenario_refuse, "flood": scenario_flood, "overlong": scenario_overlong,
             "silent": scenario_silent, "vanish": scenario_vanish, "guess": scenario_guess}


def parse_arguments():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("scenario", choices=sorted(SCENARIOS))
    parser.add_argument("--pid", type=int, required=True)
    parser.add_argument("--output", required=True, help="the receiver's headless output")
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=55440)
    parser.add_argument("--attempts", type=int, default=10000)
    parser.add_argument("--messages", type=int, default=1000000)
    parser.add_argument("--rounds", type=int, default=8)
    parser.add_argument("--hold", type=float, default=30.0, help="seconds a silent client stays")
    parser.add_argument("--flood-bytes", type=int, default=32 * 1024 * 1024)
    parser.add_argument("--rss-bound-kib", type=int, default=1024)
    parser.add_argument("--vanish-bound", type=float, default=35.0)
    parser.add_argument("--seconds", type=float, default=60.0, help="seconds of guessing")
    parser.add_argument("--log", help="the receiver's standard error, for its security log")
    return parser.parse_args()


def main():
    args = parse_arguments()
    receiver = Receiver(args.pid, args.output)
    try:
        receiver.check_alive()
        fds_before = receiver.fd_count()
        rss_before = receiver.rss_kib()
        figures = SCENARIOS[args.scenario](receiver, args)
        receiver.check_alive()
        fds_after = receiver.wait_fds(fds_before, 15.0)
        rss_after = receiver.rss_kib()
    except LoadFailure as failure:
        print(f"FAIL: {failure}", flush=True)
        return 1
    print(f"{figures}; RSS {mib(rss_before)} -> {mib(rss_after)} MiB; "
          f"fds {fds_before} -> {fds_after}", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
