#!/usr/bin/env python3
"""The demo operator: four game versions, pages and pictures on 127.0.0.1.

Usage: demo_server.py [--port 18630] [--game GAME.exe] [--rate BYTES_PER_S] [--log FILE]
The embedded default configuration points here. Version four's data address
is missing on purpose, to show the failure path.
"""
import argparse
import hashlib
import http.server
import socketserver
import shutil
import struct
import subprocess
import tempfile
import time
import zlib

VERSIONS = {
    "ravik": ("Ravik 经典版", (200, 80, 40)),
    "solen": ("Solen 怀旧版", (40, 120, 200)),
    "tavor": ("Tavor 新纪元", (60, 160, 90)),
    "nuvik": ("Nuvik 测试服", (150, 70, 170)),
}
DATA_SIZE = 48 * 1024 * 1024


def png(width, height, top, bottom):
    """A vertical gradient PNG, made without any image library."""
    rows = []
    for y in range(height):
        t = y / max(1, height - 1)
        px = bytes(int(a + (b - a) * t) for a, b in zip(top, bottom))
        rows.append(b"\x00" + px * width)
    raw = zlib.compress(b"".join(rows), 9)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", raw) + chunk(b"IEND", b""))


FONT = "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc"


def render(args):
    """Draws a picture with ImageMagick; None when it is not installed."""
    if not shutil.which("convert"):
        return None
    with tempfile.TemporaryDirectory() as tmp:
        out = tmp + "/out.png"
        try:
            subprocess.run(["convert"] + args + [out], check=True, timeout=30,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            with open(out, "rb") as f:
                return f.read()
        except (subprocess.SubprocessError, OSError):
            return None


def background(key):
    """A night scene tinted in the version's colour, its name faint in a corner."""
    r, g, b = VERSIONS[key][1]
    font = ["-font", FONT] if shutil.os.path.exists(FONT) else []
    art = render(["-size", "1130x690", "xc:#0b0e15",
                  "(", "-size", "1700x1700", "radial-gradient:rgb(%d,%d,%d)-#0b0e15" % (r // 2, g // 2, b // 2), ")",
                  "-geometry", "-250-700", "-compose", "screen", "-composite", "-compose", "over"]
                 + font + ["-pointsize", "150", "-fill", "rgba(255,255,255,0.05)", "-gravity", "southeast",
                           "-annotate", "+40+20", key.upper()])
    return art or png(1130, 690, (r // 3, g // 3, b // 3), (12, 14, 20))


def logo():
    font = ["-font", FONT] if shutil.os.path.exists(FONT) else []
    art = render(["-size", "192x48", "xc:none", "-fill", "#141923", "-stroke", "#c89a48", "-strokewidth", "2",
                  "-draw", "roundrectangle 1,1 190,46 10,10", "-stroke", "none"]
                 + font + ["-pointsize", "21", "-fill", "#f0c060", "-gravity", "center",
                           "-annotate", "+0-4", "TARNWICK", "-pointsize", "9", "-fill", "#9aa3b5",
                           "-annotate", "+0+14", "演示运营商 · DEMO"])
    return art or png(192, 48, (240, 190, 90), (150, 90, 30))


def data_block(name, offset, size):
    """Deterministic bytes, so a test can check what landed on disk."""
    seed = hashlib.sha256(name.encode()).digest()
    block = (seed * (65536 // len(seed) + 1))[:65536]
    out = bytearray()
    while len(out) < size:
        start = (offset + len(out)) % len(block)
        out += block[start:start + size - len(out)]
    return bytes(out)


def page(title, body):
    return ("<!DOCTYPE html><html><head><meta charset='utf-8'><title>%s</title>"
            "<style>body{background:#14161c;color:#e8e2d0;font-family:sans-serif;padding:24px}"
            "h1{color:#f0c060}</style></head><body><h1>%s</h1>%s</body></html>" % (title, title, body)).encode("utf-8")


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    game = b""
    rate = 0
    art = {}
    log = ""

    def log_message(self, fmt, *args):
        pass

    def send_bytes(self, body, ctype):
        self.send_response(200)
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def wanted_range(self, size, etag):
        """(start, end, code) of a GET: a "bytes=N-" or "N-M" range with a
        current If-Range gives 206; otherwise the whole file with 200."""
        want = self.headers.get("Range", "")
        if_range = self.headers.get("If-Range")
        if Handler.log:
            with open(Handler.log, "a") as f:
                f.write("%s Range=%s If-Range=%s\n" % (self.path, want, if_range))
        if want.startswith("bytes=") and "," not in want and (if_range is None or if_range.strip() == etag):
            first, _, last = want[6:].strip().partition("-")
            if first.isdigit():
                start = int(first)
                if start >= size:
                    return start, size - 1, 416
                end = min(int(last), size - 1) if last.isdigit() else size - 1
                return start, end, 206
        return 0, size - 1, 200

    def send_file(self, name, size, block):
        """A downloadable file that resumes: ETag, Range and If-Range."""
        etag = '"%s-1"' % name
        start, end, code = self.wanted_range(size, etag)
        if code == 416:
            self.send_response(416)
            self.send_header("Content-Range", "bytes */%d" % size)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        self.send_response(code)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(end - start + 1))
        self.send_header("ETag", etag)
        self.send_header("Accept-Ranges", "bytes")
        if code == 206:
            self.send_header("Content-Range", "bytes %d-%d/%d" % (start, end, size))
        self.end_headers()
        sent, chunk, count = 0, 256 * 1024, end - start + 1
        started = time.monotonic()
        try:
            while sent < count:
                n = min(chunk, count - sent)
                self.wfile.write(block(start + sent, n))
                sent += n
                if self.rate:
                    ahead = sent / self.rate - (time.monotonic() - started)
                    if ahead > 0:
                        time.sleep(ahead)
        except (BrokenPipeError, ConnectionResetError):
            pass

    def do_GET(self):
        path = self.path.split("?")[0]
        parts = path.strip("/").split("/")
        if path in ("/home.html", "/topup.html", "/register.html", "/service.html"):
            return self.send_bytes(page("Tarnwick", "<p>%s</p>" % path[1:-5]), "text/html; charset=utf-8")
        if path == "/logo.png":
            return self.send_bytes(self.art["logo"], "image/png")
        if len(parts) == 2 and parts[0] == "art" and parts[1][:-4] in VERSIONS:
            return self.send_bytes(self.art[parts[1][:-4]], "image/png")
        if len(parts) == 2 and parts[0] == "news" and parts[1][:-5] in VERSIONS:
            name = VERSIONS[parts[1][:-5]][0]
            return self.send_bytes(page(name, "<p>欢迎来到 %s。新服今日开启。</p>" % name), "text/html; charset=utf-8")
        if len(parts) == 3 and parts[0] == "files" and parts[1] in VERSIONS:
            if parts[2].endswith(".exe") and self.game:
                game = self.game
                return self.send_file(parts[2], len(game), lambda at, n: game[at:at + n])
            if parts[2] == parts[1] + ".dat":
                name = parts[2]
                return self.send_file(name, DATA_SIZE, lambda at, n: data_block(name, at, n))
        self.send_error(404)



class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--port", type=int, default=18630)
    ap.add_argument("--game", default="")
    ap.add_argument("--rate", type=int, default=8 * 1024 * 1024)
    ap.add_argument("--log", default="", help="append each file request's Range line here")
    args = ap.parse_args()
    Handler.log = args.log
    if args.game:
        with open(args.game, "rb") as f:
            Handler.game = f.read()
    Handler.rate = args.rate
    Handler.art = {key: background(key) for key in VERSIONS}
    Handler.art["logo"] = logo()
    with Server(("127.0.0.1", args.port), Handler) as srv:
        srv.serve_forever()


if __name__ == "__main__":
    main()
