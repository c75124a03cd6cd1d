#!/usr/bin/env python3
"""A small HTTP/1.1 server that misbehaves on purpose, for the download tests.

Body bytes follow one pattern: byte i of a body is the i-th byte of the
little-endian 32-bit counter 0, 1, 2, ... (the tests generate the same).
Listens on 127.0.0.1 only.
"""
import argparse
import array
import fcntl
import os
import select
import socket
import struct
import sys
import termios
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
# The file after it changed on the server (changes=1), and the second node of
# a pool (pool=1): same size, other date.
LAST_MODIFIED_NEW = "Thu, 22 Oct 2015 09:00:00 GMT"
# Version b of a changed file: every byte of the pattern XOR 0x5A.
NEW_BYTES = bytes(b ^ 0x5A for b in range(256))
# A trickle gives up after this long even if the client stays.
TRICKLE_LIMIT_S = 300
# Routes that are /file with options preset; the query may override them.
PRESETS = {
    "/capped": {"cap": "65536"},
    "/shifted": {"shift": "100"},
    "/partial206": {"first": "1", "cap": "1000"},
    "/changes": {"changes": "1"},
    "/pool": {"pool": "1"},
    "/weak": {"weak": "1"},
    "/trickle": {"trickle": "all"},
}


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
        return int(self.text_arg(name, default))

    def text_arg(self, name, default=None):
        url = urlparse(self.path)
        q = parse_qs(url.query)
        if name in q:
            return q[name][0]
        return PRESETS.get(url.path, {}).get(name, default)

    def cut(self, start, count, data=None):
        # Sends count body bytes from start, then resets: the client sees a
        # broken connection, not an orderly end.
        self.wfile.write(pattern(start, count) if data is None else data)
        self.wfile.flush()
        self.reset()

    def reset(self):
        # A reset drops whatever the client has not acknowledged yet: wait
        # until its side holds every byte sent, so that the cut is at the
        # byte count and not at however far a busy client had read.
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline and not STOP.is_set():
            try:
                queued = struct.unpack("i", fcntl.ioctl(self.connection.fileno(), termios.TIOCOUTQ,
                                                        struct.pack("i", 0)))[0]
            except OSError:
                break
            if queued == 0:
                break
            time.sleep(0.005)
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
                     With busyfrom=N the requests from the N-th (0 the
                     first) get status=S instead. /ranges and /peak tell
                     what came under K
        resetat=B    with key: the first answer under K to a bounded range
                     (N-M) that holds byte B is reset just before it
        slow=F       the answer that starts at byte F (all: every answer)
                     goes at slowrate=R bytes a second (1 MiB when not
                     given); with key and slowrequests=N only the first N
                     requests under K are slow
        cap=N        a 206 carries at most N bytes from where it was asked
        shift=K      a 206 starts K bytes after where it was asked (its
                     Content-Range says so)
        first=1      with key: cap and shift only for the first request
        changes=1    with key: the first answer is version a (ETag "a"),
                     reset at half its body; later ones version b (ETag
                     "b", a later date, other bytes of the same size: the
                     pattern XOR 0x5A). If-Range is ignored
        pool=1       with key: request i comes from node i % 2, whose ETag
                     ("n0", "n1") and Last-Modified differ; If-Range must
                     match the answering node
        weak=1       ETag W/"V" and no Last-Modified. If-Range never
                     matches a weak tag, unless ifrange=loose (then any
                     equal text does)
        trickle=F    the answer that starts at byte F (all: every answer)
                     sends its body a byte every trickledelay=ms (500);
                     trickle=headers sends header lines that way, without end
        Range: bytes=N- or N-M gives 206 with Content-Range; a start at or
        past the end gives 416. /capped, /shifted, /partial206 (first
        answer bytes 0-999; with shift=100&cap=0 bytes 100 to the end), /changes,
        /pool, /weak and /trickle are this route with options preset.
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
            if self.text_arg("busyfrom") is not None:
                failing_status = status != 0 and i >= self.arg("busyfrom", 0)
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
        if self.text_arg("trickle") == "headers":
            self.trickle_headers()
            return
        changes = key is not None and self.arg("changes", 0)
        new_version = changes and i > 0
        modified = LAST_MODIFIED
        if changes:
            etag = "b" if new_version else "a"
            modified = LAST_MODIFIED_NEW if new_version else LAST_MODIFIED
        if self.arg("pool", 0) and key is not None:
            etag = "n%d" % (i % 2)
            modified = LAST_MODIFIED_NEW if i % 2 else LAST_MODIFIED
        weak = self.arg("weak", 0)
        if weak:
            etag = self.text_arg("etag", "w")  # one tag for every version
        tag = None if etag is None else ('W/"%s"' if weak else '"%s"') % etag
        validators = [] if weak else [("Last-Modified", modified)]
        if tag is not None:
            validators.append(("ETag", tag))
        start, end = 0, size - 1
        code = 200
        want = self.headers.get("Range")
        if want and not self.arg("ignorerange", 0):
            if_range = self.headers.get("If-Range")
            if if_range is None or changes:
                current = True
            elif weak:
                current = self.text_arg("ifrange") == "loose" and if_range.strip() == tag
            else:
                current = if_range.strip() in (tag, modified)
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
        if code == 206 and (not self.arg("first", 0) or i == 0):
            shift = self.arg("shift", 0)
            start, end = min(start + shift, size - 1), min(end + shift, size - 1)
            cap = self.arg("cap", 0)
            if cap > 0:
                end = min(end, start + cap - 1)
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

        def bytes_at(at, n):
            chunk = pattern(at, n)
            if new_version:
                chunk = chunk.translate(NEW_BYTES)
            if at <= flip < at + n:
                k = flip - at
                chunk = chunk[:k] + bytes([chunk[k] ^ 0xFF]) + chunk[k + 1:]
            return chunk

        if changes and not new_version:
            self.cut(start, count // 2, bytes_at(start, count // 2))
            return
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
        trickle = self.text_arg("trickle")
        if trickle is not None and (trickle == "all" or int(trickle) == start):
            self.trickle_body(start, count)
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
            self.wfile.write(bytes_at(start + sent, n))
            sent += n
            if slow:
                self.wfile.flush()
                ahead = sent / rate - (time.monotonic() - began)
                if ahead > 0:
                    time.sleep(ahead)
        self.wfile.flush()

    def trickle_body(self, start, count):
        # Never silent, never useful: the client's stall limit alone does
        # not end it.
        delay = self.arg("trickledelay", 500) / 1000.0
        began = time.monotonic()
        for k in range(count):
            if STOP.is_set() or time.monotonic() - began > TRICKLE_LIMIT_S:
                break
            self.wfile.write(pattern(start + k, 1))
            self.wfile.flush()
            time.sleep(delay)

    def trickle_headers(self):
        # A status line, then one more header line every trickledelay ms,
        # and never the empty line that ends them.
        delay = self.arg("trickledelay", 500) / 1000.0
        self.wfile.write(b"HTTP/1.1 200 OK\r\n")
        began = time.monotonic()
        n = 0
        while not STOP.is_set() and time.monotonic() - began < TRICKLE_LIMIT_S:
            self.wfile.write(b"X-Wait-%d: %d\r\n" % (n, n))
            self.wfile.flush()
            n += 1
            time.sleep(delay)

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
        elif route == "/file" or route in PRESETS:
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
        elif route == "/hostile":
            # Sizes no file has: ?range= is sent as Content-Range (with 206,
            # or ?status=), ?length= as Content-Length, both as they are;
            # then send= bytes (5000) and the connection closes.
            send = self.arg("send", 5000)
            headers = [("Connection", "close"), ("ETag", '"h"'), ("Last-Modified", LAST_MODIFIED),
                       ("Accept-Ranges", "bytes")]
            crange, length = self.text_arg("range"), self.text_arg("length")
            if crange is not None:
                headers.append(("Content-Range", crange))
            if length is not None:
                headers.append(("Content-Length", length))
            self.head(self.arg("status", 206 if crange is not None else 200), headers)
            self.body(send)
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
            # Abortive close: the client sees a reset, not an orderly end.
            self.reset()
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
