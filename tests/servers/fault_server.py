#!/usr/bin/env python3
"""A small HTTP/1.1 server that misbehaves on purpose, for the download tests.

Body bytes follow one pattern: byte i of a body is the i-th byte of the
little-endian 32-bit counter 0, 1, 2, ... (the tests generate the same).
Listens on 127.0.0.1 only.
"""
import argparse
import array
import os
import socket
import struct
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, urlparse

STOP = threading.Event()


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
