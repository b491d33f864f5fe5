#!/usr/bin/env python3
"""A faulty cable between the updater and the virtual device.

The proxy opens the device's port as the updater would, serves a port of its
own on a pseudo-terminal linked at --link, and passes bytes both ways while
it drops, corrupts or delays them, or hangs up, as asked. At exit (SIGTERM or
SIGINT) it writes what it did to --report as JSON.

Directions are "to-device" (what the updater sends) and "to-host" (what the
device answers). Byte positions count from 1 in the bytes that arrived from
that side, faults or not.
"""

import argparse
import collections
import errno
import json
import math
import os
import random
import select
import signal
import sys
import time
import tty

DIRECTIONS = ("to-device", "to-host")


class Direction:
    """One way through the cable: the faults that act on it and the bytes on
    their way, each with the moment it may go out."""

    def __init__(self, name, rng):
        self.name = name
        self.rng = rng
        self.drop_rate = 0.0
        self.corrupt_rate = 0.0
        self.delay_rate = 0.0
        self.delay_ms = 0.0
        self.marked = {}        # position -> XOR mask of a chosen byte
        self.patterns = []      # [pattern, occurrence, offset, mask, seen]
        self.cut_after = None   # hang up once this many bytes arrived
        self.seen = 0
        self.tail = b""         # the last bytes seen, for the patterns
        self.ready_at = 0.0
        self.queue = collections.deque()  # (due, bytes)
        self.counts = collections.Counter()
        self._next = {}

    def _gap(self, rate):
        # Positions of random faults as geometric gaps, not a draw per byte.
        if rate <= 0:
            return None
        if rate >= 1:
            return 1
        u = 1.0 - self.rng.random()
        return 1 + int(math.log(u) / math.log(1.0 - rate))

    def _next_position(self, kind, rate):
        if kind not in self._next:
            gap = self._gap(rate)
            self._next[kind] = None if gap is None else self.seen + gap
        return self._next[kind]

    def _advance(self, kind, rate):
        gap = self._gap(rate)
        self._next[kind] = None if gap is None else self._next[kind] + gap

    def _watch_patterns(self, position, byte):
        self.tail = (self.tail + bytes([byte]))[-64:]
        for entry in self.patterns:
            pattern, occurrence, offset, mask, seen = entry
            if self.tail.endswith(pattern):
                entry[4] = seen = seen + 1
                if seen == occurrence:
                    self.marked[position + 1 + offset] = mask

    def take(self, data, now):
        """Bytes that arrived; returns True once the cut position is reached."""
        out = bytearray()
        cut = False
        for byte in data:
            self.seen += 1
            position = self.seen
            self._watch_patterns(position, byte)
            if position in self.marked:
                byte ^= self.marked.pop(position)
                self.counts["corrupted"] += 1
            if self._next_position("corrupt", self.corrupt_rate) == position:
                byte ^= self.rng.randrange(1, 256)
                self.counts["corrupted"] += 1
                self._advance("corrupt", self.corrupt_rate)
            if self._next_position("delay", self.delay_rate) == position:
                # Everything from this byte on waits: a serial line keeps order.
                self._flush(out, now)
                self.ready_at = max(self.ready_at, now) + self.delay_ms / 1000.0
                self.counts["delayed"] += 1
                self._advance("delay", self.delay_rate)
            if self._next_position("drop", self.drop_rate) == position:
                self.counts["dropped"] += 1
                self._advance("drop", self.drop_rate)
            else:
                out.append(byte)
            if self.cut_after is not None and position >= self.cut_after:
                cut = True
                break
        self._flush(out, now)
        return cut

    def _flush(self, out, now):
        if out:
            self.queue.append((max(now, self.ready_at), bytes(out)))
            out.clear()

    def due(self, now):
        return bool(self.queue) and self.queue[0][0] <= now

    def next_due(self):
        return self.queue[0][0] if self.queue else None

    def send_due(self, fd, now):
        while self.queue and self.queue[0][0] <= now:
            due, chunk = self.queue[0]
            try:
                written = os.write(fd, chunk)
            except BlockingIOError:
                return
            self.counts["passed"] += written
            if written < len(chunk):
                self.queue[0] = (due, chunk[written:])
                return
            self.queue.popleft()


def parse_rate(text):
    value = float(text)
    if not 0 <= value <= 1:
        raise ValueError("a rate is from 0 to 1")
    return value


def directions_of(text):
    if text == "both":
        return DIRECTIONS
    if text not in DIRECTIONS:
        raise ValueError("a direction is to-device, to-host or both")
    return (text,)


def split(text, count, option):
    parts = text.split(":")
    if len(parts) != count:
        raise argparse.ArgumentTypeError(f"{option} takes {count} fields separated by ':'")
    return parts


def configure(args, ways):
    """Puts the options' faults on the two directions; ValueError on nonsense."""
    for text in args.drop:
        way, rate = split(text, 2, "--drop")
        for name in directions_of(way):
            ways[name].drop_rate = parse_rate(rate)
    for text in args.corrupt:
        way, rate = split(text, 2, "--corrupt")
        for name in directions_of(way):
            ways[name].corrupt_rate = parse_rate(rate)
    for text in args.delay:
        way, rate, ms = split(text, 3, "--delay")
        for name in directions_of(way):
            ways[name].delay_rate = parse_rate(rate)
            ways[name].delay_ms = float(ms)
            if ways[name].delay_ms < 0:
                raise ValueError("a delay is not negative")
    for text in args.corrupt_byte:
        way, position, mask = split(text, 3, "--corrupt-byte")
        position, mask = int(position), int(mask, 16)
        if position < 1 or not 0 < mask < 256:
            raise ValueError("--corrupt-byte takes a position from 1 and a mask from 01 to FF")
        for name in directions_of(way):
            ways[name].marked[position] = mask
    for text in args.corrupt_after:
        way, pattern, occurrence, offset, mask = split(text, 5, "--corrupt-after")
        occurrence, offset, mask = int(occurrence), int(offset), int(mask, 16)
        if not pattern or occurrence < 1 or offset < 0 or not 0 < mask < 256:
            raise ValueError("--corrupt-after takes a pattern, an occurrence from 1, an offset and a mask")
        for name in directions_of(way):
            ways[name].patterns.append([pattern.encode("latin-1"), occurrence, offset, mask, 0])
    for text in args.hang_up_after:
        way, count = split(text, 2, "--hang-up-after")
        for name in directions_of(way):
            ways[name].cut_after = int(count)
            if ways[name].cut_after < 0:
                raise ValueError("--hang-up-after counts bytes from 0")


def open_raw(path):
    fd = os.open(path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
    tty.setraw(fd)
    return fd


class Proxy:
    def __init__(self, args):
        rng = random.Random(args.seed)
        self.ways = {name: Direction(name, rng) for name in DIRECTIONS}
        configure(args, self.ways)
        self.prompts_before_cut = args.hang_up_after_prompt
        self.prompts = 0
        if self.prompts_before_cut is not None and self.prompts_before_cut < 1:
            raise ValueError("--hang-up-after-prompt counts from 1")
        self.hung_up = False
        self.device_gone = False
        self.stopping = False
        self.device = open_raw(args.device)
        self.host, slave = os.openpty()
        os.set_blocking(self.host, False)
        # Held open, as the device holds its own port: the updater may close
        # and reopen it without the proxy seeing a hang-up.
        tty.setraw(slave)
        self.slave = slave
        self.link = args.link
        try:
            os.unlink(self.link)
        except FileNotFoundError:
            pass
        os.symlink(os.ttyname(slave), self.link)

    def run(self):
        wake_read, wake_write = os.pipe()
        os.set_blocking(wake_write, False)
        signal.set_wakeup_fd(wake_write)
        for number in (signal.SIGTERM, signal.SIGINT):
            signal.signal(number, self._stop)
        while not self.stopping:
            self._serve_once(wake_read)

    def _stop(self, *_):
        self.stopping = True

    def _serve_once(self, wake_read):
        now = time.monotonic()
        to_device, to_host = self.ways["to-device"], self.ways["to-host"]
        poller = select.poll()
        poller.register(wake_read, select.POLLIN)
        if not self.device_gone:
            poller.register(self.device, select.POLLIN | (select.POLLOUT if to_device.due(now) else 0))
        if not self.hung_up:
            poller.register(self.host, select.POLLIN | (select.POLLOUT if to_host.due(now) else 0))
        dues = [d for d in (to_device.next_due(), to_host.next_due()) if d is not None and d > now]
        timeout = max(0, int((min(dues) - now) * 1000) + 1) if dues else None
        for fd, _ in poller.poll(timeout):
            if fd == wake_read:
                os.read(wake_read, 64)
        now = time.monotonic()
        if not self.hung_up:
            self._pass(self.host, to_device, now)
        if not self.device_gone:
            self._pass(self.device, to_host, now)
        if not self.device_gone:
            to_device.send_due(self.device, now)
        if not self.hung_up:
            to_host.send_due(self.host, now)

    def _pass(self, source, way, now):
        while True:
            try:
                data = os.read(source, 65536)
            except BlockingIOError:
                return
            except OSError as error:
                if error.errno != errno.EIO:
                    raise
                self._device_hung_up(now)
                return
            if not data:
                if source == self.device:  # hung up, as far as a terminal says
                    self._device_hung_up(now)
                return
            if self.hung_up:
                continue
            if way.name == "to-host" and self.prompts_before_cut is not None:
                data = self._up_to_last_prompt(data)
            if way.take(data, now) or self._prompt_cut_due():
                self._hang_up(now)
                return

    def _device_hung_up(self, now):
        # The device went away: so does the updater's port.
        self.device_gone = True
        if not self.hung_up:
            self._hang_up(now)

    def _up_to_last_prompt(self, data):
        for index, byte in enumerate(data):
            if byte == ord(">"):
                self.prompts += 1
                if self.prompts == self.prompts_before_cut:
                    return data[: index + 1]
        return data

    def _prompt_cut_due(self):
        return self.prompts_before_cut is not None and self.prompts >= self.prompts_before_cut

    def _hang_up(self, now):
        # What is already on its way still goes out, then the line drops:
        # unread bytes are lost, as when a cable is pulled.
        to_host = self.ways["to-host"]
        deadline = now + 2.0
        while to_host.queue and time.monotonic() < deadline:
            to_host.send_due(self.host, time.monotonic())
            time.sleep(0.001)
        os.close(self.host)
        self.hung_up = True

    def report(self):
        return {
            "to_device": dict(self.ways["to-device"].counts, seen=self.ways["to-device"].seen),
            "to_host": dict(self.ways["to-host"].counts, seen=self.ways["to-host"].seen),
            "prompts": self.prompts,
            "hung_up": self.hung_up,
        }

    def close(self):
        try:
            os.unlink(self.link)
        except FileNotFoundError:
            pass


def parse_arguments(argv):
    parser = argparse.ArgumentParser(
        description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--link", required=True, help="where to link the proxy's port")
    parser.add_argument("--device", required=True, help="the device's port")
    parser.add_argument("--ready", help="written once the proxy's port is linked")
    parser.add_argument("--report", help="JSON of what the proxy did, written at exit")
    parser.add_argument("--seed", default="0", help="seed of the random faults")
    parser.add_argument("--drop", action="append", default=[], metavar="DIR:RATE",
                        help="drop each byte with this probability")
    parser.add_argument("--corrupt", action="append", default=[], metavar="DIR:RATE",
                        help="flip random bits of each byte with this probability")
    parser.add_argument("--delay", action="append", default=[], metavar="DIR:RATE:MS",
                        help="hold each byte, and all after it, MS longer with this probability")
    parser.add_argument("--corrupt-byte", action="append", default=[], metavar="DIR:POSITION:MASK",
                        help="XOR the byte at POSITION with MASK (hex)")
    parser.add_argument("--corrupt-after", action="append", default=[],
                        metavar="DIR:PATTERN:N:OFFSET:MASK",
                        help="XOR with MASK the byte OFFSET bytes after the Nth PATTERN")
    parser.add_argument("--hang-up-after", action="append", default=[], metavar="DIR:COUNT",
                        help="hang up once COUNT bytes arrived from that side (the rest is lost)")
    parser.add_argument("--hang-up-after-prompt", type=int, metavar="N",
                        help="hang up after passing the device's Nth '>' (data bytes of that value count)")
    return parser.parse_args(argv)


def main(argv):
    args = parse_arguments(argv)
    try:
        proxy = Proxy(args)
    except (ValueError, argparse.ArgumentTypeError) as error:
        print(f"fault_proxy: {error}", file=sys.stderr)
        return 2
    except OSError as error:
        print(f"fault_proxy: {error}", file=sys.stderr)
        return 1
    if args.ready:
        with open(args.ready, "w") as ready:
            ready.write(os.ttyname(proxy.slave) + "\n")
    try:
        proxy.run()
    finally:
        proxy.close()
        if args.report:
            with open(args.report + ".new", "w") as out:
                json.dump(proxy.report(), out)
            os.replace(args.report + ".new", args.report)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
