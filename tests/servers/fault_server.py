#!/usr/bin/env python3
"""A small HTTP/1.1 server that misbehaves on purpose, for the download tests.

Body bytes follow one pattern: byte i of a body is the i-th byte of the
little-endian 32-bit counter 0, 1, 2, ... (the tests generate the same).
Listens on 127.0.0.1 only.
"""
import argparse
import array
import os
import select
import socket
import struct
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, urlparse

STOP = threading.Event()
# Requests seen per ?key=, for misbehaviour that stops after the first few.
COUNTS = {}
COUNTS_LOCK = threading.Lock()
# Per ?key=: the Range headers asked, answers open now and at most at once,
# and the bytes where a reset was already made.
RANGES = {}
OPEN = {}
PEAK = {}
RESET_DONE = set()
LAST_MODIFIED = "Wed, 21 Oct 2015 07:28:00 GMT"


def next_index(key):
    with COUNTS_LOCK:
        i = COUNTS.get(key, 0)
        COUNTS[key] = i + 1
        return i


def still_open(conn):
    # The client sends nothing after its request: a readable socket is one
    # it has closed.
    try:
        readable, _, _ = select.select([conn], [], [], 0)
        return not readable or conn.recv(1, socket.MSG_PEEK | socket.MSG_DONTWAIT) != b""
    except OSError:
        return False


def pattern(start, size):
    first = start // 4
    count = (start + size + 3) // 4 - first + 1
    data = array.array("I", range(first, first + count))
    if sys.byteorder != "little":
        data.byteswap()
    raw = data.tobytes()
    off = start - first * 4
    return raw[off:off + size]


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):
        pass

    def arg(self, name, default):
        q = parse_qs(urlparse(self.path).query)
        return int(q.get(name, [default])[0])

    def text_arg(self, name, default=None):
        q = parse_qs(urlparse(self.path).query)
        return q.get(name, [default])[0]

    def cut(self, start, count):
        # Sends count body bytes from start, then resets: the client sees a
        # broken connection, not an orderly end.
        self.wfile.write(pattern(start, count))
        self.wfile.flush()
        time.sleep(0.2)
        self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.connection.close()

    def serve_file(self):
        key = self.text_arg("key")
        if key is not None:
            with COUNTS_LOCK:
                RANGES.setdefault(key, []).append(self.headers.get("Range", ""))
                # Answers whose client has gone no longer count, even while
                # their handler has not noticed yet.
                live = [c for c in OPEN.setdefault(key, set()) if still_open(c)]
                OPEN[key].add(self.connection)
                PEAK[key] = max(PEAK.get(key, 0), len(live) + 1)
        try:
            self.serve_file_body()
        except (BrokenPipeError, ConnectionResetError):
            pass  # the client took what it needed and closed
        finally:
            if key is not None:
                with COUNTS_LOCK:
                    OPEN[key].discard(self.connection)

    def serve_file_body(self):
        """A file of ?size= bytes that resumes, with misbehaviour by option:
        etag=V       ETag "V" (none without it); If-Range must match it (or
                     the fixed Last-Modified) for a range to be honoured
        ignorerange=1  always 200 with the whole body
        status=S     answer S (503, 429, ...) with a short page instead,
                     retryafter=T adds Retry-After: T
        cut=P        reset after P percent of this response's body
        flip=N       byte N of the file is inverted: the right size, the wrong
                     bytes, so only a hash tells
        type=T       Content-Type T
        key=K        count requests under K: with errors=E the first E get
                     status=S, with resets=R the next R are reset at cut=P
                     (50 when not given); later ones are served whole.
                     /ranges and /peak tell what came under K
        resetat=B    with key: the first answer under K to a bounded range
                     (N-M) that holds byte B is reset just before it
        slow=F       the answer that starts at byte F (all: every answer)
                     goes at slowrate=R bytes a second (1 MiB when not
                     given); with key and slowrequests=N only the first N
                     requests under K are slow
        Range: bytes=N- or N-M gives 206 with Content-Range; a start at or
        past the end gives 416.
        """
        size = self.arg("size", 100000)
        etag = self.text_arg("etag")
        status = self.arg("status", 0)
        retry_after = self.text_arg("retryafter")
        key = self.text_arg("key")
        cut_percent = self.text_arg("cut")
        failing_status = status != 0
        cutting = cut_percent is not None
        i = 0
        if key is not None:
            i = next_index(key)
            errors, resets = self.arg("errors", 0), self.arg("resets", 0)
            failing_status = status != 0 and i < errors
            cutting = errors <= i < errors + resets
        cut_percent = int(cut_percent) if cut_percent is not None else 50
        if failing_status:
            page = b"<html><body><h1>%d</h1>try later</body></html>" % status
            headers = [("Content-Type", "text/html"), ("Content-Length", str(len(page))), ("Connection", "close")]
            if retry_after is not None:
                headers.append(("Retry-After", retry_after))
            self.head(status, headers)
            self.wfile.write(page)
            return
        validators = [("Last-Modified", LAST_MODIFIED)]
        if etag is not None:
            validators.append(("ETag", '"%s"' % etag))
        start, end = 0, size - 1
        code = 200
        want = self.headers.get("Range")
        if want and not self.arg("ignorerange", 0):
            if_range = self.headers.get("If-Range")
            current = if_range is None or if_range.strip() in (
                ('"%s"' % etag) if etag is not None else None, LAST_MODIFIED)
            asked = want.strip()
            if current and asked.startswith("bytes=") and "," not in asked:
                first, _, last = asked[6:].partition("-")
                if first.strip().isdigit():
                    start = int(first)
                    if start >= size:
                        self.head(416, [("Content-Range", "bytes */%d" % size), ("Content-Length", "0"),
                                        ("Connection", "close")] + validators)
                        return
                    if last.strip().isdigit():
                        end = min(int(last), size - 1)
                    code = 206
        count = end - start + 1 if size > 0 else 0
        headers = [("Content-Length", str(count)), ("Connection", "close")] + validators
        if self.text_arg("type") is not None:
            headers.append(("Content-Type", self.text_arg("type")))
        flip = self.arg("flip", -1)
        if not self.arg("ignorerange", 0):
            headers.append(("Accept-Ranges", "bytes"))
        if code == 206:
            headers.append(("Content-Range", "bytes %d-%d/%d" % (start, end, size)))
        self.head(code, headers)
        if cutting:
            self.cut(start, count * cut_percent // 100)
            return
        reset_at = self.text_arg("resetat")
        bounded = want is not None and want.strip().split("-")[-1].strip().isdigit()
        if reset_at is not None and key is not None and bounded and start <= int(reset_at) <= end:
            with COUNTS_LOCK:
                first_time = (key, reset_at) not in RESET_DONE
                RESET_DONE.add((key, reset_at))
            if first_time:
                self.cut(start, int(reset_at) - start)
                return
        slow = self.text_arg("slow")
        slow = slow is not None and (slow == "all" or int(slow) == start)
        if slow and key is not None and self.text_arg("slowrequests") is not None:
            slow = i < self.arg("slowrequests", 0)
        rate = self.arg("slowrate", 1 << 20)
        sent = 0
        began = time.monotonic()
        while sent < count:
            n = min(65536 if not slow else 16384, count - sent)
            chunk = pattern(start + sent, n)
            if start + sent <= flip < start + sent + n:
                i = flip - start - sent
                chunk = chunk[:i] + bytes([chunk[i] ^ 0xFF]) + chunk[i + 1:]
            self.wfile.write(chunk)
            sent += n
            if slow:
                self.wfile.flush()
                ahead = sent / rate - (time.monotonic() - began)
                if ahead > 0:
                    time.sleep(ahead)
        self.wfile.flush()

    def head(self, code, headers):
        self.send_response(code)
        for k, v in headers:
            self.send_header(k, v)
        self.end_headers()

    def body(self, total, chunk=65536):
        sent = 0
        while sent < total:
            n = min(chunk, total - sent)
            self.wfile.write(pattern(sent, n))
            sent += n
        self.wfile.flush()

    def hold(self, seconds=120):
        # Keeps the connection open and silent until the server is told to stop.
        STOP.wait(seconds)

    def do_GET(self):
        route = urlparse(self.path).path
        self.close_connection = True
        if route == "/echo-request":
            # The request line and headers as the body, so tests can check them.
            text = (self.requestline + "\r\n" + str(self.headers)).encode("latin-1")
            self.head(200, [("Content-Length", str(len(text))), ("Connection", "close")])
            self.wfile.write(text)
        elif route == "/file":
            self.serve_file()
        elif route == "/hop":
            # A redirect with headers of its own, to /file with the same query.
            query = urlparse(self.path).query
            self.head(302, [("Location", "/file?" + query), ("ETag", '"hop"'), ("X-Hop", "1"),
                            ("Retry-After", "99"), ("Content-Length", "0"), ("Connection", "close")])
        elif route == "/portal":
            # A captive portal: 200 and a login page whatever was asked, Range
            # ignored.
            page = b"<html><head><title>Login</title></head><body>Sign in to use the network</body></html>"
            self.head(200, [("Content-Type", "text/html; charset=utf-8"), ("Content-Length", str(len(page))),
                            ("Connection", "close")])
            self.wfile.write(page)
        elif route == "/reset-counters":
            with COUNTS_LOCK:
                COUNTS.clear()
            self.head(200, [("Content-Length", "0"), ("Connection", "close")])
        elif route == "/count":
            # How many requests came under ?key= so far.
            with COUNTS_LOCK:
                text = str(COUNTS.get(self.text_arg("key", ""), 0)).encode()
            self.head(200, [("Content-Length", str(len(text))), ("Connection", "close")])
            self.wfile.write(text)
        elif route in ("/ranges", "/peak"):
            # The Range headers asked under ?key=, one a line, or the most
            # answers that were open at once.
            key = self.text_arg("key", "")
            with COUNTS_LOCK:
                if route == "/ranges":
                    text = "".join(r + "\n" for r in RANGES.get(key, [])).encode()
                else:
                    text = str(PEAK.get(key, 0)).encode()
            self.head(200, [("Content-Length", str(len(text))), ("Connection", "close")])
            self.wfile.write(text)
        elif route == "/drop":
            # Reads the request, then resets without a byte of response.
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self.connection.close()
        elif route == "/ok":
            size = self.arg("size", 100000)
            self.head(200, [("Content-Length", str(size)), ("Connection", "close")])
            self.body(size)
        elif route == "/nolength":
            size = self.arg("size", 100000)
            self.head(200, [("Connection", "close")])
            self.body(size)
        elif route == "/chunked":
            size = self.arg("size", 100000)
            self.head(200, [("Transfer-Encoding", "chunked"), ("Connection", "close")])
            sent = 0
            while sent < size:
                n = min(7000, size - sent)
                self.wfile.write(b"%x\r\n" % n + pattern(sent, n) + b"\r\n")
                sent += n
            self.wfile.write(b"0\r\n\r\n")
        elif route.startswith("/status/"):
            code = int(route.rsplit("/", 1)[1])
            page = b"<html><body><h1>%d</h1>error page</body></html>" % code
            self.head(code, [("Content-Type", "text/html"), ("Content-Length", str(len(page))),
                             ("Connection", "close")])
            self.wfile.write(page)
        elif route == "/short":
            announce, send = self.arg("announce", 100000), self.arg("send", 40000)
            self.head(200, [("Content-Length", str(announce)), ("Connection", "close")])
            self.body(send)
        elif route == "/reset":
            announce, send = self.arg("announce", 100000), self.arg("send", 40000)
            self.head(200, [("Content-Length", str(announce)), ("Connection", "close")])
            self.body(send)
            time.sleep(0.2)
            # Abortive close: the client sees a reset, not an orderly end.
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self.connection.close()
        elif route == "/stall":
            send = self.arg("send", 20000)
            self.head(200, [("Content-Length", str(send * 10)), ("Connection", "close")])
            self.body(send)
            self.hold()
        elif route == "/stall-headers":
            self.hold()
        elif route == "/empty":
            self.head(200, [("Content-Length", "0"), ("Connection", "close")])
        elif route == "/loop":
            self.head(302, [("Location", "/loop"), ("Content-Length", "0"), ("Connection", "close")])
        elif route == "/redirect":
            size = self.arg("size", 100000)
            self.head(302, [("Location", "/ok?size=%d" % size), ("Content-Length", "0"), ("Connection", "close")])
        elif route == "/huge":
            send = self.arg("send", 30000)
            self.head(200, [("Content-Length", "5000000000000"), ("Connection", "close")])
            self.body(send)
        else:
            self.head(404, [("Content-Length", "0"), ("Connection", "close")])


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--port", type=int, required=True)
    ap.add_argument("--pidfile")
    a = ap.parse_args()
    ThreadingHTTPServer.daemon_threads = True
    ThreadingHTTPServer.allow_reuse_address = True
    srv = ThreadingHTTPServer(("127.0.0.1", a.port), Handler)
    if a.pidfile:
        with open(a.pidfile, "w") as f:
            f.write(str(os.getpid()))
    try:
        srv.serve_forever(poll_interval=0.2)
    finally:
        STOP.set()


if __name__ == "__main__":
    import signal
    signal.signal(signal.SIGTERM, lambda *_: (STOP.set(), sys.exit(0)))
    main()
