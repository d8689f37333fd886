#!/usr/bin/env python3
"""The clients of the idle-connections scenario, against one server: many HTTP/1.1
connections that each ask for one page, read the answer and then stay open and silent, and,
while they are all open, new requests timed one after the other. Reads the server's resident
memory, descriptors and threads from /proc before, with the connections open and after.
Prints what it saw, then one "result" line for bench/run.sh. Only loopback addresses are
accepted, and every socket wait and loop is bounded.

Usage: idle_driver.py [options] --pid PID NAME=127.x.y.z:PORT"""

import argparse
import errno
import os
import selectors
import socket
import struct
import sys
import time

from stall_driver import (TCP_ESTABLISHED, parse_target, percentile, raise_open_file_limit,
                          status_of)


def parse_args():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--connections", type=int, default=10000, help="idle connections to hold")
    p.add_argument("--requests", type=int, default=2000,
                   help="timed requests on new connections, and on one kept connection")
    p.add_argument("--path", default="/file.html")
    p.add_argument("--page-bytes", type=int, default=1024, help="the length of its body")
    p.add_argument("--parallel", type=int, default=64, help="idle connections opening at once")
    p.add_argument("--setup-limit", type=float, default=120.0,
                   help="seconds to open the idle connections")
    p.add_argument("--timeout", type=float, default=10.0, help="seconds for one timed request")
    p.add_argument("--settle", type=float, default=2.0,
                   help="seconds of quiet before each memory reading")
    p.add_argument("--pid", type=int, required=True,
                   help="the server's process (its live children are counted with it)")
    p.add_argument("server", metavar="NAME=HOST:PORT")
    args = p.parse_args()
    args.name, args.host, args.port = parse_target(p, args.server)
    return args


def processes(pid):
    """The process and its live children (nginx's worker)."""
    found = [pid]
    try:
        for task in os.listdir("/proc/%d/task" % pid):
            with open("/proc/%d/task/%s/children" % (pid, task)) as f:
                found += [int(word) for word in f.read().split()]
    except OSError:
        pass
    return found


def status_field(pid, field):
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith(field + ":"):
                    return int(line.split()[1])
    except (OSError, ValueError, IndexError):
        pass
    return 0


def reading(pid):
    """Resident memory (KiB), open descriptors and threads of the server, its children with it."""
    rss = fds = threads = 0
    for p in processes(pid):
        rss += status_field(p, "VmRSS")
        threads += status_field(p, "Threads")
        try:
            fds += len(os.listdir("/proc/%d/fd" % p))
        except OSError:
            pass
    return {"rss": rss, "fds": fds, "threads": threads}


class Answer:
    """An answer read from a byte stream: its head, then Content-Length bytes of body."""

    def __init__(self):
        self.data = b""
        self.head_end = -1
        self.length = None

    def feed(self, chunk):
        """Takes bytes; True once the answer is complete."""
        self.data += chunk
        if self.head_end < 0:
            self.head_end = self.data.find(b"\r\n\r\n")
            if self.head_end < 0:
                return False
            for line in self.data[:self.head_end].split(b"\r\n")[1:]:
                key, _, value = line.partition(b":")
                if key.strip().lower() == b"content-length" and value.strip().isdigit():
                    self.length = int(value.strip())
            if self.length is None:
                raise ValueError("answer without Content-Length: %r" % self.data[:80])
        return len(self.data) >= self.head_end + 4 + self.length

    def status(self):
        return status_of(self.data)

    def body_bytes(self):
        return len(self.data) - self.head_end - 4

    def closes(self):
        """Whether the server says it closes the connection after this answer."""
        for line in self.data[:self.head_end].split(b"\r\n")[1:]:
            key, _, value = line.partition(b":")
            if key.strip().lower() == b"connection" and b"close" in value.lower():
                return True
        return self.data.startswith(b"HTTP/1.0")


def exchange(sock, request, deadline):
    """Sends one request on a blocking socket and reads its answer by its length."""
    sock.sendall(request)
    answer = Answer()
    while True:
        left = deadline - time.monotonic()
        if left <= 0:
            raise socket.timeout("answer not complete in time")
        sock.settimeout(left)
        chunk = sock.recv(65536)
        if not chunk:
            raise ConnectionError("closed after %d bytes" % len(answer.data))
        if answer.feed(chunk):
            return answer


def check(answer, page_bytes):
    if answer.status() != "200":
        return "status line %r" % answer.data.split(b"\r\n", 1)[0][:60]
    if answer.body_bytes() != page_bytes:
        return "body of %d bytes, expected %d" % (answer.body_bytes(), page_bytes)
    return ""


def timed_requests(args, request, kept):
    """args.requests requests one after the other, each on a new connection or all on one kept
    connection (a new one when the server closes it). Returns (sorted ms, failures, reasons,
    connections opened)."""
    times, failures, reasons, opened = [], 0, {}, 0
    sock = None
    for _ in range(args.requests):
        start = time.monotonic()
        deadline = start + args.timeout
        try:
            if sock is None:
                sock = socket.create_connection((args.host, args.port), timeout=args.timeout)
                sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
                opened += 1
            answer = exchange(sock, request, deadline)
            why = check(answer, args.page_bytes)
            if not kept or answer.closes():
                sock.close()
                sock = None
        except (OSError, ValueError) as e:
            why = type(e).__name__ + ": " + str(e)[:60]
            if sock is not None:
                sock.close()
                sock = None
        if why:
            failures += 1
            reasons[why] = reasons.get(why, 0) + 1
        else:
            times.append((time.monotonic() - start) * 1000)
    if sock is not None:
        sock.close()
    times.sort()
    return times, failures, reasons, opened


class Idle:
    def __init__(self):
        self.sock = None
        self.answer = Answer()
        self.idle = False


def open_idle(args, request):
    """Opens args.connections connections, at most args.parallel at work at once, within
    args.setup_limit seconds; each sends the request and reads its answer. Returns those that
    were answered and stay open, and the reasons of the others."""
    pending = args.connections
    working = 0
    idle, reasons = [], {}
    sel = selectors.DefaultSelector()
    deadline = time.monotonic() + args.setup_limit

    def fail(conn, why):
        sel.unregister(conn.sock)
        conn.sock.close()
        reasons[why] = reasons.get(why, 0) + 1

    try:
        while (pending or working) and time.monotonic() < deadline:
            while pending and working < args.parallel:
                pending -= 1
                conn = Idle()
                conn.sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
                conn.sock.setblocking(False)
                err = conn.sock.connect_ex((args.host, args.port))
                if err not in (0, errno.EINPROGRESS):
                    conn.sock.close()
                    reasons[errno.errorcode.get(err, str(err))] = reasons.get(
                        errno.errorcode.get(err, str(err)), 0) + 1
                    continue
                sel.register(conn.sock, selectors.EVENT_WRITE, conn)
                working += 1
            for key, _ in sel.select(timeout=0.5):
                conn = key.data
                if key.events == selectors.EVENT_WRITE:
                    err = conn.sock.getsockopt(socket.SOL_SOCKET, socket.SO_ERROR)
                    try:
                        if err != 0 or conn.sock.send(request) != len(request):
                            raise OSError(err, "connect or send failed")
                    except OSError as e:
                        fail(conn, "connect: " + (errno.errorcode.get(e.errno or 0) or str(e)))
                        working -= 1
                        continue
                    sel.modify(conn.sock, selectors.EVENT_READ, conn)
                    continue
                try:
                    chunk = conn.sock.recv(65536)
                    if not chunk:
                        raise ConnectionError("closed before the answer")
                    done = conn.answer.feed(chunk)
                except (OSError, ValueError) as e:
                    fail(conn, type(e).__name__ + ": " + str(e)[:60])
                    working -= 1
                    continue
                if not done:
                    continue
                working -= 1
                why = check(conn.answer, args.page_bytes)
                if not why and conn.answer.closes():
                    why = "answer closes the connection"
                if why:
                    fail(conn, why)
                    continue
                sel.unregister(conn.sock)
                conn.answer = None
                idle.append(conn)
        for key in list(sel.get_map().values()):
            key.fileobj.close()
        if pending or working:
            reasons["not answered within %.0f s" % args.setup_limit] = pending + working
    finally:
        sel.close()
    return idle, reasons


def still_open(conn):
    """Established on our side, and nothing to read: the server neither closed nor wrote."""
    try:
        info = conn.sock.getsockopt(socket.IPPROTO_TCP, socket.TCP_INFO, 8)
        if info[0] != TCP_ESTABLISHED:
            return False
        conn.sock.recv(1, socket.MSG_PEEK | socket.MSG_DONTWAIT)
        return False
    except BlockingIOError:
        return True
    except OSError:
        return False


def close_all(conns):
    for conn in conns:
        try:
            # A reset: the server lets go at once, and no port lingers here.
            conn.sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        except OSError:
            pass
        conn.sock.close()


def describe(reasons):
    return ", ".join("%s x%d" % item for item in sorted(reasons.items())) or "none"


def summary(label, times, failures, reasons, opened):
    print("%s: %d answered, p50 %.2f ms, p99 %.2f ms, max %.2f ms; %d failed (%s); %d connections" % (
        label, len(times), percentile(times, 0.5), percentile(times, 0.99),
        times[-1] if times else float("nan"), failures, describe(reasons), opened))


def main():
    args = parse_args()
    raise_open_file_limit(args.connections + 64)
    request = ("GET %s HTTP/1.1\r\nHost: x\r\n\r\n" % args.path).encode()

    # Without idle connections: the same requests, which also warm the server up for them.
    base = timed_requests(args, request, False)
    summary("new connections, none idle", *base)
    sys.stdout.flush()
    time.sleep(args.settle)
    before = reading(args.pid)

    started = time.monotonic()
    idle, reasons = open_idle(args, request)
    setup = time.monotonic() - started
    print("idle connections: %d of %d answered and kept open in %.1f s; not: %s" % (
        len(idle), args.connections, setup, describe(reasons)))
    sys.stdout.flush()
    time.sleep(args.settle)
    held = reading(args.pid)

    fresh = timed_requests(args, request, False)
    summary("new connections, %d idle" % len(idle), *fresh)
    kept = timed_requests(args, request, True)
    summary("one kept connection, %d idle" % len(idle), *kept)
    after = reading(args.pid)
    still = sum(1 for conn in idle if still_open(conn))
    print("idle connections still open after the timed requests: %d of %d" % (still, len(idle)))
    close_all(idle)

    print("%-26s %12s %12s %12s" % ("", "before", "idle held", "after"))
    for key, label in (("rss", "resident memory (KiB)"), ("fds", "descriptors"),
                       ("threads", "threads")):
        print("%-26s %12d %12d %12d" % (label, before[key], held[key], after[key]))
    times, failures = fresh[0], fresh[1]
    print("result %s connections=%d idle=%d still_open=%d setup_s=%.1f rss_before=%d rss_idle=%d "
          "rss_after=%d fds_idle=%d threads_idle=%d base_p99=%.2f p50=%.2f p99=%.2f max=%.2f "
          "failures=%d kept_p50=%.2f kept_p99=%.2f kept_failures=%d" % (
              args.name, args.connections, len(idle), still, setup, before["rss"], held["rss"],
              after["rss"], held["fds"], held["threads"], percentile(base[0], 0.99),
              percentile(times, 0.5), percentile(times, 0.99),
              times[-1] if times else float("nan"), failures, percentile(kept[0], 0.5),
              percentile(kept[0], 0.99), kept[1]))


if __name__ == "__main__":
    main()
