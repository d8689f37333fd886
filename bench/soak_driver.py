#!/usr/bin/env python3
"""The clients of the fault soak: a mix of requests against both servers of one Vantry, some of
them cut short on purpose, for a given number of requests or seconds. Prints one summary line
per figure ("key value") for bench/soak.sh to check. Every socket wait is bounded."""

import hashlib
import os
import random
import socket
import struct
import sys
import threading
import time

HOST, PORT1, PORT2 = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
REQUESTS, SECONDS, CLIENTS = int(sys.argv[4]), float(sys.argv[5]), int(sys.argv[6])
ABORT_PERCENT = float(sys.argv[7])
ACCESS_LOG = sys.argv[8]  # moved away half way through the run; "-": left alone
TIMEOUT = 30.0

# What a client asks, with its weight: (name, port, method, path, body size range).
MIX = [
    ("file_1k", 1, "GET", "/file.html", None, 30),
    ("file_100k", 1, "GET", "/file-100k.html", None, 8),
    ("file_2m", 2, "GET", "/big.bin", None, 2),
    ("head", 1, "HEAD", "/file.html", None, 3),
    ("missing", 2, "GET", "/missing.html", None, 5),
    ("listing", 1, "GET", "/listing/", None, 4),
    ("download_page", 2, "GET", "/VNTFileDownload.html", None, 2),
    ("admin_home", 1, "GET", "/admin/", None, 2),
    ("admin_properties", 1, "GET", "/admin/serverproperties.html", None, 2),
    ("vnt_userlist", 2, "GET", "/VNT/userlist.html", None, 2),
    ("vnt_navigator", 1, "GET", "/VNT/navigator.html", None, 2),
    ("vnt_upload_page", 1, "GET", "/VNT/fileupload.html", None, 2),
    ("vnt_search", 2, "GET", "/VNT/HandleSearch.html?searchTarget=entry", None, 1),
    ("cgi_hello", 1, "GET", "/cgi-bin/hello.pl", None, 8),
    ("cgi_slow", 2, "GET", "/cgi-bin/slow.sh", None, 2),
    ("upload", 1, "POST", "/VNT/HandleFileUpload.html", (1, 300 * 1024), 6),
]
WEIGHTS = [m[5] for m in MIX]

lock = threading.Lock()
counts = {"completed": 0, "aborted": 0, "failed": 0, "sent": 0}
by_kind = {}
failures = []
uploads_sent = set()       # sha256 of every upload body whose bytes all went out
uploads_completed = set()  # ... and whose answer arrived in full
deadline = time.monotonic() + SECONDS
moved = threading.Event()


def take_ticket():
    with lock:
        if counts["sent"] >= REQUESTS or time.monotonic() >= deadline:
            return False
        counts["sent"] += 1
        if ACCESS_LOG != "-" and not moved.is_set() and counts["sent"] >= REQUESTS // 2:
            moved.set()
            try:
                os.rename(ACCESS_LOG, ACCESS_LOG + ".moved")
            except OSError as e:
                failures.append("moving the access log: %s" % e)
        return True


def record(kind, outcome, detail=""):
    with lock:
        counts[outcome] += 1
        by_kind[(kind, outcome)] = by_kind.get((kind, outcome), 0) + 1
        if outcome == "failed" and len(failures) < 20:
            failures.append("%s: %s" % (kind, detail))


def reset_close(s):
    # A reset instead of an orderly close.
    s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    s.close()


def read_all(s, slow):
    data = b""
    while True:
        chunk = s.recv(4096 if slow else 65536)
        if not chunk:
            return data
        data += chunk
        if slow:
            time.sleep(0.002)


def one_request(rng):
    kind, server, method, path, body_range, _ = rng.choices(MIX, WEIGHTS)[0]
    port = PORT1 if server == 1 else PORT2
    body = b""
    if body_range:
        body = os.urandom(rng.randint(*body_range))
    head = "%s %s HTTP/1.0\r\nHost: soak\r\n" % (method, path)
    if method == "POST":
        head += "Content-Type: application/octet-stream\r\nContent-Length: %d\r\n" % len(body)
    request = head.encode() + b"\r\n" + body
    abort = rng.random() * 100 < ABORT_PERCENT
    # Where an aborting client stops: in the head, in the body, or in the answer.
    where = rng.choice(["head", "body", "response"] if body else ["head", "response"])
    slow = kind == "file_2m" and rng.random() < 0.5
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.settimeout(TIMEOUT)
    if slow:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 8192)
    try:
        s.connect((HOST, port))
        if abort and where == "head":
            s.sendall(request[: rng.randint(1, len(head) - 1)])
            (reset_close if rng.random() < 0.5 else socket.socket.close)(s)
            record(kind, "aborted")
            return
        if abort and where == "body":
            s.sendall(request[: len(head) + 2 + rng.randint(0, len(body) - 1)])
            (reset_close if rng.random() < 0.5 else socket.socket.close)(s)
            record(kind, "aborted")
            return
        s.sendall(request)
        if body:
            with lock:
                uploads_sent.add(hashlib.sha256(body).hexdigest())
        if abort:
            s.recv(rng.randint(1, 2048))
            (reset_close if rng.random() < 0.5 else socket.socket.close)(s)
            record(kind, "aborted")
            return
        answer = read_all(s, slow)
        s.close()
    except OSError as e:
        s.close()
        record(kind, "failed", repr(e))
        return
    status = answer.split(b"\r\n", 1)[0]
    expected = {"missing": b"HTTP/1.0 404 Object Not Found"}.get(kind, b"HTTP/1.0 200 OK")
    if not status.startswith(expected):
        record(kind, "failed", "status %r" % status[:60])
        return
    if body:
        with lock:
            uploads_completed.add(hashlib.sha256(body).hexdigest())
    record(kind, "completed")


def client(seed):
    rng = random.Random(seed)
    while take_ticket():
        one_request(rng)


threads = [threading.Thread(target=client, args=(i,)) for i in range(CLIENTS)]
started = time.monotonic()
for t in threads:
    t.start()
for t in threads:
    t.join(SECONDS + 5 * TIMEOUT)
elapsed = time.monotonic() - started

print("seconds %.1f" % elapsed)
for key in ("sent", "completed", "aborted", "failed"):
    print("%s %d" % (key, counts[key]))
print("log_moved %d" % (1 if moved.is_set() else 0))
print("uploads_sent %d" % len(uploads_sent))
print("uploads_completed %d" % len(uploads_completed))
with open(os.environ.get("SOAK_UPLOAD_SUMS", "/dev/null"), "w") as f:
    for digest in sorted(uploads_sent):
        f.write("sent %s\n" % digest)
    for digest in sorted(uploads_completed):
        f.write("completed %s\n" % digest)
for (kind, outcome), n in sorted(by_kind.items()):
    print("kind %s %s %d" % (kind, outcome, n))
for failure in failures:
    print("failure %s" % failure)
