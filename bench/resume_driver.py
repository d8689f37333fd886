#!/usr/bin/env python3
"""A resumable upload cut by a dropped connection and finished from where the server's bytes
end: creates the upload of SOURCE at ADDRESS:PORT, sends its first CUT bytes in a PATCH that
declares them all and then closes the connection, asks HEAD for the server's offset and sends
only the rest. Prints one "result" line for bench/run.sh: the bytes sent in each PATCH, the
offset the server held, the seconds of the second PATCH and the stored name. Only loopback
addresses are accepted, and every socket wait is bounded.

Usage: resume_driver.py ADDRESS PORT SOURCE CUT"""

import base64
import ipaddress
import os
import socket
import sys
import time

TIMEOUT = 120  # seconds, for any one wait


def connect(address, port):
    s = socket.create_connection((address, port), timeout=TIMEOUT)
    s.settimeout(TIMEOUT)
    return s


def exchange(address, port, head, source=None, offset=0, count=0):
    """Sends `head` (and `count` bytes of `source` from `offset`) and returns the answer's head."""
    with connect(address, port) as s:
        s.sendall(head.encode())
        if count:
            with open(source, "rb") as f:
                s.sendfile(f, offset, count)
        answer = b""
        while b"\r\n\r\n" not in answer:
            piece = s.recv(65536)
            if not piece:
                break
            answer += piece
    return answer.decode("latin-1")


def header(answer, name):
    for line in answer.split("\r\n")[1:]:
        key, _, value = line.partition(":")
        if key.strip().lower() == name.lower():
            return value.strip()
    return None


def main():
    if len(sys.argv) != 5:
        print(__doc__, file=sys.stderr)
        return 2
    address, port, source, cut = sys.argv[1], int(sys.argv[2]), sys.argv[3], int(sys.argv[4])
    if not ipaddress.ip_address(address).is_loopback:
        print("only loopback addresses", file=sys.stderr)
        return 2
    size = os.path.getsize(source)
    name = base64.b64encode(os.path.basename(source).encode()).decode()
    created = exchange(address, port, "POST /VNT/resumable/ HTTP/1.1\r\nHost: bench\r\n"
                       "Connection: close\r\nUpload-Length: %d\r\nUpload-Metadata: filename %s\r\n"
                       "Content-Length: 0\r\n\r\n" % (size, name))
    location = header(created, "Location")
    if not location:
        print("the upload was not created: " + created.split("\r\n")[0], file=sys.stderr)
        return 1
    patch = ("PATCH %s HTTP/1.1\r\nHost: bench\r\nConnection: close\r\n"
             "Content-Type: application/offset+octet-stream\r\nUpload-Offset: %d\r\n"
             "Content-Length: %d\r\n\r\n")
    # The connection drops: the body is declared whole, but only CUT bytes of it come.
    with connect(address, port) as s:
        s.sendall((patch % (location, 0, size)).encode())
        with open(source, "rb") as f:
            s.sendfile(f, 0, cut)
    held = None
    deadline = time.monotonic() + TIMEOUT
    while time.monotonic() < deadline:
        status = exchange(address, port, "HEAD %s HTTP/1.1\r\nHost: bench\r\nConnection: close"
                          "\r\n\r\n" % location)
        held = header(status, "Upload-Offset")
        if held is not None and int(held) == cut:
            break
        time.sleep(0.1)
    if held is None:
        print("the server no longer knows the upload", file=sys.stderr)
        return 1
    held = int(held)
    started = time.monotonic()
    finished = exchange(address, port, patch % (location, held, size - held), source, held,
                        size - held)
    seconds = time.monotonic() - started
    stored = header(finished, "Upload-Stored-Name")
    if not finished.startswith("HTTP/1.1 204") or stored is None:
        print("the rest was not taken: " + finished.split("\r\n")[0], file=sys.stderr)
        return 1
    print("result first=%d held=%d second=%d seconds=%.3f stored=%s"
          % (cut, held, size - held, seconds, stored))
    return 0


if __name__ == "__main__":
    sys.exit(main())
