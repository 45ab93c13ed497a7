#!/usr/bin/env python3
"""The phone side of the load scenarios, run against a live `corvane --headless`.

run.sh starts the receiver in its own network namespace and hands this driver the receiver's
pid and the file its headless output goes to. Only outside witnesses count as evidence: the
receiver's published lines, its /proc entries, the X pointer (xdotool) and what the sockets see.

Every scenario prints one line of figures and exits 0, or prints "FAIL: ..." and exits 1.
"""

import argparse
import errno
import json
import os
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


class Receiver:
    """The receiver under test, seen from outside: its output lines and its /proc entries."""

    def __init__(self, pid, output):
        self.pid = pid
        self.output = output

    def lines(self):
        with open(self.output, encoding="utf-8", errors="replace") as file:
            return file.read().splitlines()

    def statuses(self):
        return [line[len("status: "):] for line in self.lines() if line.startswith("status: ")]

    def status(self):
        statuses = self.statuses()
        return statuses[-1] if statuses else None

    def ready_count(self):
        return self.statuses().count(READY)

    def code(self):
        codes = [line[len("code: "):] for line in self.lines() if line.startswith("code: ")]
        check(codes and re.fullmatch(r"\d{6}", codes[-1]), f"no pairing code in {codes[-1:]}")
        return codes[-1]

    def wait_ready_after(self, count, seconds, start=None):
        """Seconds from `start` (default now) until "Ready for pairing" has been printed more
        than `count` times."""
        start = time.monotonic() if start is None else start
        while self.ready_count() <= count:
            self.check_alive()
            check(time.monotonic() - start < seconds,
                  f"no \"{READY}\" within {seconds} s (last status: {self.status()})")
            time.sleep(0.02)
        return time.monotonic() - start

    def check_alive(self):
        check(os.path.exists(f"/proc/{self.pid}/status"), "the receiver has exited")

    def rss_kib(self):
        with open(f"/proc/{self.pid}/status") as file:
            for line in file:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
        raise LoadFailure("no VmRSS for the receiver")

    def cpu_seconds(self):
        with open(f"/proc/{self.pid}/stat") as file:
            fields = file.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    def fd_count(self):
        return len(os.listdir(f"/proc/{self.pid}/fd"))

    def wait_fds(self, baseline, seconds):
        """The receiver's descriptor count once it is back at `baseline`; closing sockets may
        linger a few seconds to hand over their last bytes."""
        deadline = time.monotonic() + seconds
        count = self.fd_count()
        while count != baseline and time.monotonic() < deadline:
            time.sleep(0.2)
            count = self.fd_count()
        check(count == baseline, f"open descriptors {baseline} before, {count} after")
        return count


class Pointer:
    """The X pointer, read and set with xdotool."""

    def position(self):
        out = subprocess.run(["xdotool", "getmouselocation", "--shell"], check=True,
                             capture_output=True, text=True).stdout
        values = dict(line.split("=", 1) for line in out.split())
        return int(values["X"]), int(values["Y"])

    def place(self, x, y):
        subprocess.run(["xdotool", "mousemove", str(x), str(y)], check=True)
        check(self.position() == (x, y), "xdotool could not place the pointer")


def line(**fields):
    return (json.dumps(fields, separators=(",", ":")) + "\n").encode()


def move(dx, dy):
    return line(kind="move", dx=dx, dy=dy)


class Phone:
    """One TCP client speaking the line protocol."""

    def __init__(self, host, port, timeout=5.0):
        self.sock = socket.create_connection((host, port), timeout=timeout)
        self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.pending = b""

    def close(self):
        self.sock.close()

    def send(self, data):
        self.sock.sendall(data)

    def reply(self, seconds=5.0):
        self.sock.settimeout(seconds)
        while b"\n" not in self.pending:
            chunk = self.sock.recv(4096)
            check(chunk, "the receiver closed the connection instead of replying")
            self.pending += chunk
        text, self.pending = self.pending.split(b"\n", 1)
        return json.loads(text)

    def pair(self, code):
        """Pairs with the code and returns (client ID, token)."""
        client_id = str(uuid.uuid4()).upper()
        self.send(line(kind="hello", code=code, clientID=client_id))
        answer = self.reply()
        check(answer.get("kind") == "accepted" and answer.get("token"),
              f"pairing refused: {answer}")
        return client_id, answer["token"]

    def resume(self, client_id, token):
        self.send(line(kind="hello", clientID=client_id, token=token))
        answer = self.reply()
        check(answer.get("kind") == "accepted", f"token refused: {answer}")

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

    def __init__(self, phone, pointer, start=(640, 400)):
        self.phone = phone
        self.pointer = pointer
        pointer.place(*start)
        self.expected = start
        self.sign = 1
        self.latencies = []

    def probe(self, seconds=10.0):
        step = self.STEP * self.sign
        self.sign = -self.sign
        self.expected = (self.expected[0] + step, self.expected[1] + step)
        started = time.monotonic()
        self.phone.send(move(step, step))
        position = self.pointer.position()
        while position != self.expected:
            check(time.monotonic() - started < seconds,
                  f"input stalled: pointer at {position}, expected {self.expected}")
            time.sleep(0.005)
            position = self.pointer.position()
        self.latencies.append(time.monotonic() - started)

    def summary(self):
        worst = max(self.latencies) * 1000 if self.latencies else 0
        return f"{len(self.latencies)} input checks ok (slowest {worst:.0f} ms)"


def admit_phone(receiver, args):
    phone = Phone(args.host, args.port)
    phone.pair(receiver.code())
    check(receiver.status() == CONNECTED, f"status after pairing: {receiver.status()}")
    return phone


def leave(receiver, phone, seconds=5.0):
    """Closes an admitted phone and returns how long the slot took to free."""
    before = receiver.ready_count()
    closed = time.monotonic()
    phone.close()
    return receiver.wait_ready_after(before, seconds, closed)


# ---------------------------------------------------------------------------------- refuse


class Storm:
    """Many connection attempts in flight at once; each must be closed by the receiver without
    a single byte. Every tenth attempt presents the current code, which must not help."""

    def __init__(self, host, port, hello, concurrency, seconds):
        self.address = (host, port)
        self.hello = hello
        self.concurrency = concurrency
        self.seconds = seconds
        self.selector = selectors.DefaultSelector()
        self.deadlines = {}
        self.started = 0
        self.refused = 0

    def run(self, attempts):
        target = self.started + attempts
        while self.started < target or self.deadlines:
            while self.started < target and len(self.deadlines) < self.concurrency:
                self.open()
            for key, events in self.selector.select(0.2):
                self.advance(key.fileobj, key.data, events)
            now = time.monotonic()
            for sock, deadline in list(self.deadlines.items()):
                check(now < deadline, f"attempt left open for {self.seconds} s")

    def open(self):
        sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        sock.setblocking(False)
        result = sock.connect_ex(self.address)
        check(result in (0, errno.EINPROGRESS), f"connect: {os.strerror(result)}")
        greet = self.started % 10 == 0
        self.selector.register(sock, selectors.EVENT_WRITE, greet)
        self.deadlines[sock] = time.monotonic() + self.seconds
        self.started += 1

    def advance(self, sock, greet, events):
        if events & selectors.EVENT_WRITE:
            error = sock.getsockopt(socket.SOL_SOCKET, socket.SO_ERROR)
            check(error == 0, f"connection attempt failed: {os.strerror(error)}")
            if greet:
                try:
                    sock.send(self.hello)
                except OSError:
                    pass
            self.selector.modify(sock, selectors.EVENT_READ, greet)
            return
        try:
            data = sock.recv(4096)
        except ConnectionResetError:
            data = b""
        check(not data, f"a refused attempt received {data!r}")
        self.selector.unregister(sock)
        del self.deadlines[sock]
        sock.close()
        self.refused += 1


class SteadyInput(threading.Thread):
    """An admitted phone that keeps moving the pointer, and checking that it moves, while the
    main thread does something else."""

    def __init__(self, flow):
        super().__init__(daemon=True)
        self.flow = flow
        self.stopping = threading.Event()
        self.error = None

    def run(self):
        try:
            while not self.stopping.is_set():
                self.flow.phone.send((move(1, 1) + move(-1, -1)) * 50)
                self.flow.probe()
        except (LoadFailure, OSError) as error:
            self.error = error

    def finish(self):
        self.stopping.set()
        self.join(15.0)
        check(not self.is_alive(), "the input checks hung")
        if self.error:
            raise LoadFailure(f"input while refusing others: {self.error}")


def scenario_refuse(receiver, args):
    phone = admit_phone(receiver, args)
    flow = FlowProbe(phone, Pointer())
    flow.probe()
    ready_before = receiver.ready_count()
    hello = line(kind="hello", code=receiver.code(), clientID=str(uuid.uuid4()).upper())
    storm = Storm(args.host, args.port, hello, concurrency=32, seconds=10)
    steady = SteadyInput(flow)
    started = time.monotonic()
    steady.start()
    try:
        storm.run(args.attempts)
    finally:
        steady.finish()
    elapsed = time.monotonic() - started
    check(storm.refused == args.attempts, f"{storm.refused} of {args.attempts} refused")
    during = len(flow.latencies) - 1
    check(during >= 3, f"only {during} input checks during the storm")
    check(receiver.status() == CONNECTED, f"status after the storm: {receiver.status()}")
    check(receiver.ready_count() == ready_before, "the admitted phone lost its slot")
    leave(receiver, phone)
    return (f"{storm.refused}/{args.attempts} attempts refused in {elapsed:.1f} s "
            f"({storm.refused / elapsed:.0f}/s) while one phone stayed admitted; "
            f"{flow.summary()} meanwhile")


# ----------------------------------------------------------------------------------- flood


def scenario_flood(receiver, args):
    pointer = Pointer()
    phone = admit_phone(receiver, args)
    flow = FlowProbe(phone, pointer)
    flow.probe()
    batch = (move(1, 1) + move(-1, -1)) * 500
    per_batch = 1000
    batches = args.messages // per_batch
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
    sent = batches * per_batch
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


# -------------------------------------------------------------------------------- overlong


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
    taken = []
    client_id = token = None
    frees = []
    started = time.monotonic()
    for index in range(args.rounds):
        ready = receiver.ready_count()
        phone = Phone(args.host, args.port)
        if index % 2 == 1:
            # An admitted phone gets no more room than a stranger.
            if token is None:
                client_id, token = phone.pair(receiver.code())
            else:
                phone.resume(client_id, token)
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
    rss_end = receiver.rss_kib()
    growth = rss_end - rss_start
    check(growth <= args.rss_bound_kib, f"RSS grew {growth} KiB over the floods")
    most = max(taken) // 1024 if taken else 0
    return (f"{args.rounds} connections cut off in {elapsed:.1f} s: "
            f"{args.rounds - len(taken)} kept at {BUFFER_LIMIT} bytes and cut at "
            f"{BUFFER_LIMIT + 1}, {len(taken)} offered {args.flood_bytes // (1024 * 1024)} MiB "
            f"and reset after at most {most} KiB reached the sockets; slot free again "
            f"after at most {max(frees) * 1000:.1f} ms")


# ---------------------------------------------------------------------------------- silent


def scenario_silent(receiver, args):
    ready = receiver.ready_count()
    silent = Phone(args.host, args.port)
    started = time.monotonic()
    refused = 0
    while time.monotonic() - started < args.hold:
        time.sleep(1.0)
        intruder = Phone(args.host, args.port)
        intruder.send(line(kind="hello", code=receiver.code(), clientID=str(uuid.uuid4()).upper()))
        check(intruder.closed_by_peer(3.0), "a second connection was admitted")
        intruder.close()
        refused += 1
        check(receiver.status() == CONNECTING, f"status while silent: {receiver.status()}")
        check(receiver.ready_count() == ready, "the silent client lost its slot")
    held = time.monotonic() - started
    freed = leave(receiver, silent, 2.0)
    phone = admit_phone(receiver, args)
    leave(receiver, phone)
    return (f"a silent client kept the slot for {held:.0f} s while {refused} others were "
            f"refused; slot free {freed * 1000:.1f} ms after it closed, next phone admitted")


# ---------------------------------------------------------------------------------- vanish


def scenario_vanish(receiver, args):
    """Runs inside the phone's own namespace; its packets are then dropped at its end."""
    times = []
    for _ in range(args.rounds):
        phone = admit_phone(receiver, args)
        FlowProbe(phone, Pointer()).probe()
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


SCENARIOS = {
    "refuse": scenario_refuse,
    "flood": scenario_flood,
    "overlong": scenario_overlong,
    "silent": scenario_silent,
    "vanish": scenario_vanish,
}


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
