#!/usr/bin/env python3
"""The clients of the stall scenario: for each server in turn, many connections that stall it
(bodies that trickle a byte at a time, downloads that are never read), and while they are all
open one visitor who asks for a small page again and again and records how long each answer
takes. Prints a table, then one "result" line per server for bench/run.sh. Only loopback
addresses are accepted, and every socket wait and loop is bounded.

Usage: stall_driver.py [options] NAME=127.x.y.z:PORT ..."""

import argparse
import errno
import ipaddress
import math
import resource
import selectors
import socket
import struct
import sys
import threading
import time

TCP_ESTABLISHED = 1


def parse_args():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--trickle", type=int, default=500, help="connections that trickle a body")
    p.add_argument("--trickle-path", default="/cgi-bin/drain.sh")
    p.add_argument("--trickle-length", type=int, default=900000, help="the body length they declare")
    p.add_argument("--trickle-interval", type=float, default=10.0, help="seconds between their bytes")
    p.add_argument("--readers", type=int, default=500, help="downloads that are never read")
    p.add_argument("--reader-path", default="/big.bin")
    p.add_argument("--reader-rcvbuf", type=int, default=4096, help="their SO_RCVBUF")
    p.add_argument("--page", default="/file.html", help="what the visitor asks for")
    p.add_argument("--page-bytes", type=int, default=1024, help="the length of its body")
    p.add_argument("--steady", type=float, default=2.0,
                   help="seconds between connecting the stalling clients and the first visit")
    p.add_argument("--seconds", type=float, default=20.0, help="how long the visitor keeps asking")
    p.add_argument("--requests", type=int, default=100000, help="at most this many visits")
    p.add_argument("--gap-ms", type=float, default=10.0, help="pause between two visits")
    p.add_argument("--timeout", type=float, default=10.0, help="seconds for one visit")
    p.add_argument("--setup-limit", type=float, default=60.0,
                   help="seconds to open the stalling connections")
    p.add_argument("--settle", type=float, default=3.0,
                   help="seconds of quiet after a server's stalling connections are closed")
    p.add_argument("--target-ms", type=float, default=100.0, help="printed beside the p99")
    p.add_argument("servers", nargs="+", metavar="NAME=HOST:PORT")
    args = p.parse_args()
    args.targets = [parse_target(p, server) for server in args.servers]
    return args


def parse_target(parser, server):
    """NAME=127.x.y.z:PORT as (name, host, port); anything else, or another address than a
    loopback one, ends the program with the parser's error."""
    name, _, where = server.partition("=")
    host, _, port = where.rpartition(":")
    try:
        loopback = ipaddress.ip_address(host) in ipaddress.ip_network("127.0.0.0/8")
    except ValueError:
        loopback = False
    if not name or not port.isdigit() or not loopback:
        parser.error("%s: expected NAME=127.x.y.z:PORT (loopback only)" % server)
    return name, host, int(port)


def raise_open_file_limit(needed):
    """The stalling connections are descriptors of this process: the soft limit goes up to
    what they need (at most the hard limit)."""
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    if soft != resource.RLIM_INFINITY and soft < needed:
        want = needed if hard == resource.RLIM_INFINITY else min(needed, hard)
        resource.setrlimit(resource.RLIMIT_NOFILE, (want, hard))
        soft = want
    if soft != resource.RLIM_INFINITY and soft < needed:
        sys.exit("stall_driver: %d descriptors needed, the hard limit is %d" % (needed, hard))


def status_of(answer):
    """The status code of an answer's first line, or "-" when there is none."""
    parts = answer.split(b"\r\n", 1)[0].split()
    if len(parts) >= 2 and parts[0].startswith(b"HTTP/") and parts[1].isdigit():
        return parts[1].decode()
    return "-"


def visit(host, port, head, expected_bytes, timeout):
    """One request on a new connection, read to its end. Returns (ok, milliseconds, why)."""
    start = time.monotonic()
    deadline = start + timeout
    s = None
    try:
        s = socket.create_connection((host, port), timeout=timeout)
        s.sendall(head)
        chunks = []
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                raise socket.timeout("answer not complete after %.0f s" % timeout)
            s.settimeout(left)
            chunk = s.recv(65536)
            if not chunk:
                break
            chunks.append(chunk)
    except OSError as e:
        return False, (time.monotonic() - start) * 1000, repr(e)
    finally:
        if s is not None:
            s.close()
    ms = (time.monotonic() - start) * 1000
    answer = b"".join(chunks)
    head_end = answer.find(b"\r\n\r\n")
    if status_of(answer) != "200":
        return False, ms, "status line %r" % answer.split(b"\r\n", 1)[0][:60]
    body = len(answer) - head_end - 4 if head_end >= 0 else -1
    if expected_bytes is not None and body != expected_bytes:
        return False, ms, "body of %d bytes, expected %d" % (body, expected_bytes)
    return True, ms, ""


class Staller:
    def __init__(self, kind, index):
        self.kind = kind              # "trickle" or "reader"
        self.index = index
        self.sock = None
        self.established = False
        self.closed = False           # the server closed or reset it (seen by the trickler)
        self.answer = b""             # what a trickling connection was answered, if anything
        self.head_sent = 0.0          # when its request head went out
        self.answered = None          # seconds from the head to the answer's first byte
        self.ended = None             # seconds from the head to the server's close
        self.next_send = 0.0
        self.body_sent = 0


def open_stallers(args, host, port):
    """Connects every stalling client and sends its request head, at most 64 connecting at
    once, within args.setup_limit seconds. Returns the list (those that failed are not
    established)."""
    trickle_head = ("POST %s HTTP/1.0\r\nHost: bench\r\nContent-Type: application/octet-stream\r\n"
                    "Content-Length: %d\r\n\r\n" % (args.trickle_path, args.trickle_length)).encode()
    reader_head = ("GET %s HTTP/1.0\r\nHost: bench\r\n\r\n" % args.reader_path).encode()
    stallers = [Staller("trickle", i) for i in range(args.trickle)]
    stallers += [Staller("reader", i) for i in range(args.readers)]
    pending = list(reversed(stallers))
    sel = selectors.DefaultSelector()
    connecting = 0
    deadline = time.monotonic() + args.setup_limit
    try:
        while (pending or connecting) and time.monotonic() < deadline:
            while pending and connecting < 64:
                st = pending.pop()
                st.sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
                if st.kind == "reader":
                    # Before connecting, so that the window the client offers stays small.
                    st.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, args.reader_rcvbuf)
                st.sock.setblocking(False)
                err = st.sock.connect_ex((host, port))
                if err not in (0, errno.EINPROGRESS):
                    st.sock.close()
                    st.sock = None
                    continue
                sel.register(st.sock, selectors.EVENT_WRITE, st)
                connecting += 1
            for key, _ in sel.select(timeout=0.5):
                st = key.data
                sel.unregister(st.sock)
                connecting -= 1
                err = st.sock.getsockopt(socket.SOL_SOCKET, socket.SO_ERROR)
                head = trickle_head if st.kind == "trickle" else reader_head
                try:
                    if err != 0 or st.sock.send(head) != len(head):
                        raise OSError(err, "connect or send failed")
                except OSError:
                    st.sock.close()
                    st.sock = None
                    continue
                st.established = True
                now = time.monotonic()
                st.head_sent = now
                # Each trickling client sends its bytes on its own phase of the interval.
                st.next_send = now + args.trickle_interval * (st.index + 1) / max(args.trickle, 1)
    finally:
        for key in list(sel.get_map().values()):
            key.data.sock.close()
            key.data.sock = None
        sel.close()
    return stallers


def trickle(stallers, interval, limit, stop):
    """Sends one body byte on every trickling connection each interval, and notes what the
    server answers or whether it closes, until stop is set. A body is never completed."""
    live = [st for st in stallers if st.kind == "trickle" and st.established]
    sel = selectors.DefaultSelector()
    for st in live:
        sel.register(st.sock, selectors.EVENT_READ, st)
    try:
        while not stop.is_set():
            now = time.monotonic()
            for st in live:
                if st.closed or st.next_send > now:
                    continue
                try:
                    if st.body_sent + 1 < limit:
                        st.body_sent += st.sock.send(b"x")
                except BlockingIOError:
                    pass
                except OSError:
                    st.closed = True
                    st.ended = time.monotonic() - st.head_sent
                    sel.unregister(st.sock)
                st.next_send += interval
            pending = [st.next_send for st in live if not st.closed]
            wait = min(pending) - time.monotonic() if pending else 0.5
            for key, _ in sel.select(timeout=min(max(wait, 0.0), 0.5)):
                st = key.data
                try:
                    chunk = st.sock.recv(4096)
                except BlockingIOError:
                    continue
                except OSError:
                    chunk = b""
                if chunk:
                    if st.answered is None:
                        st.answered = time.monotonic() - st.head_sent
                    if len(st.answer) < 256:
                        st.answer += chunk[: 256 - len(st.answer)]
                else:
                    st.closed = True
                    st.ended = time.monotonic() - st.head_sent
                    sel.unregister(st.sock)
    finally:
        sel.close()


def still_open(st):
    """Whether the server still holds the connection: established on our side, no end seen."""
    if not st.established or st.closed:
        return False
    try:
        info = st.sock.getsockopt(socket.IPPROTO_TCP, socket.TCP_INFO, 8)
    except OSError:
        return False
    return info[0] == TCP_ESTABLISHED


def reader_status(st):
    """The status of a download's answer, peeked at so that it stays unread."""
    try:
        peeked = st.sock.recv(64, socket.MSG_PEEK | socket.MSG_DONTWAIT)
    except OSError:
        return "-"
    return status_of(peeked)


def close_all(stallers):
    for st in stallers:
        if st.sock is None:
            continue
        try:
            # A reset: the server lets go at once instead of waiting for the rest.
            st.sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        except OSError:
            pass
        st.sock.close()
        st.sock = None


def percentile(sorted_values, q):
    if not sorted_values:
        return float("nan")
    return sorted_values[max(0, math.ceil(q * len(sorted_values)) - 1)]


def span(values):
    """When the trickler saw it, from the first to the last, or "-" when it never did. It
    watches the connections only once all have connected."""
    if not values:
        return "-"
    return "seen %.1f to %.1f s after the head" % (min(values), max(values))


def count(words):
    seen = {}
    for w in words:
        seen[w] = seen.get(w, 0) + 1
    return ", ".join("%s x%d" % (w, n) for w, n in sorted(seen.items())) or "none"


def run_server(args, name, host, port):
    out = {"name": name}
    # The stalling request once in full: the server must answer it when the body does arrive.
    body = b"x" * args.trickle_length
    probe_head = ("POST %s HTTP/1.0\r\nHost: bench\r\nContent-Type: application/octet-stream\r\n"
                  "Content-Length: %d\r\n\r\n" % (args.trickle_path, len(body))).encode()
    ok, ms, why = visit(host, port, probe_head + body, None, 30.0)
    out["probe"] = "ok" if ok else "failed"
    if not ok:
        print("%s: the full POST %s was not answered 200: %s" % (name, args.trickle_path, why))

    started = time.monotonic()
    stallers = open_stallers(args, host, port)
    out["setup_s"] = time.monotonic() - started
    out["connected"] = sum(st.established for st in stallers)
    stop = threading.Event()
    trickler = threading.Thread(target=trickle, args=(
        stallers, args.trickle_interval, args.trickle_length, stop), daemon=True)
    trickler.start()
    # The server takes the burst of connections in first: the visits measure it holding them.
    time.sleep(args.steady)

    head = ("GET %s HTTP/1.0\r\nHost: bench\r\n\r\n" % args.page).encode()
    latencies, failures, reasons = [], 0, []
    begin = time.monotonic()
    end = begin + args.seconds
    done = 0
    slowest = (0.0, 0.0)  # the longest visit's time and when it began
    while done < args.requests and time.monotonic() < end:
        at = time.monotonic() - begin
        ok, ms, why = visit(host, port, head, args.page_bytes, args.timeout)
        done += 1
        slowest = max(slowest, (ms, at))
        if ok:
            latencies.append(ms)
        else:
            failures += 1
            if len(reasons) < 5:
                reasons.append(why)
        if args.gap_ms > 0:
            time.sleep(args.gap_ms / 1000)

    stop.set()
    trickler.join(5.0)
    trickling = [st for st in stallers if st.kind == "trickle"]
    readers = [st for st in stallers if st.kind == "reader"]
    out["trickle_open"] = sum(still_open(st) for st in trickling)
    out["readers_open"] = sum(still_open(st) for st in readers)
    answers = [status_of(st.answer) for st in trickling if st.answer]
    reader_answers = [reader_status(st) for st in readers if st.established]
    close_all(stallers)

    latencies.sort()
    out.update(requests=done, failures=failures,
               p50=percentile(latencies, 0.50), p99=percentile(latencies, 0.99),
               max=latencies[-1] if latencies else float("nan"))
    print("%s: %d of %d stalling clients connected in %.1f s; at the end %d of %d trickling and "
          "%d of %d non-reading still open" % (
              name, out["connected"], len(stallers), out["setup_s"], out["trickle_open"],
              len(trickling), out["readers_open"], len(readers)))
    print("%s: trickling clients whose answer began: %s (%s); closed by the server: %d (%s); "
          "downloads' status: %s" % (
              name, count(answers), span([st.answered for st in trickling if st.answered]),
              sum(st.ended is not None for st in trickling),
              span([st.ended for st in trickling if st.ended is not None]), count(reader_answers)))
    print("%s: the longest visit, %.1f ms, began %.1f s into the visits" % (name, slowest[0], slowest[1]))
    for why in reasons:
        print("%s: failed visit: %s" % (name, why))
    sys.stdout.flush()
    time.sleep(args.settle)
    return out


def main():
    args = parse_args()
    raise_open_file_limit(args.trickle + args.readers + 64)
    print("stalling clients per server: %d trickling POST %s (Content-Length %d, a byte every "
          "%g s), %d GET %s with SO_RCVBUF %d never read; the visitor: GET %s for %g s from "
          "%g s after they connected, %g ms between visits" % (
              args.trickle, args.trickle_path, args.trickle_length, args.trickle_interval,
              args.readers, args.reader_path, args.reader_rcvbuf, args.page, args.seconds,
              args.steady, args.gap_ms))
    sys.stdout.flush()
    results = [run_server(args, name, host, port) for name, host, port in args.targets]

    header = ("server", "visits", "p50 ms", "p99 ms", "max ms", "failed", "trickling open",
              "non-reading open", "full POST")
    rows = [header]
    for r in results:
        rows.append((r["name"], str(r["requests"]), "%.1f" % r["p50"], "%.1f" % r["p99"],
                     "%.1f" % r["max"], str(r["failures"]),
                     "%d/%d" % (r["trickle_open"], args.trickle),
                     "%d/%d" % (r["readers_open"], args.readers), r["probe"]))
    widths = [max(len(row[i]) for row in rows) for i in range(len(header))]
    for row in rows:
        print(" ".join(cell.rjust(w) for cell, w in zip(row, widths)))
    print("(p99 target: %g ms)" % args.target_ms)
    for r in results:
        print("result %s requests=%d p50=%.1f p99=%.1f max=%.1f failures=%d trickle_open=%d "
              "readers_open=%d connected=%d probe=%s" % (
                  r["name"], r["requests"], r["p50"], r["p99"], r["max"], r["failures"],
                  r["trickle_open"], r["readers_open"], r["connected"], r["probe"]))


if __name__ == "__main__":
    main()
