"""A logo server for the card maker's tests, on 127.0.0.1 only: good logos
from a folder, with validators, and every way a server can let a fetcher down
(slow answers, an endless body, a huge claimed size, a decompression bomb, a
redirect loop, a wrong content type, 404). Each request is logged as one
line "<path> <conditional>" so that a test can tell what was asked for.

    python3 logo_server.py --folder LOGOS --port-file PORT --log LOG
"""
import argparse
import email.utils
import hashlib
import http.server
import os
import struct
import sys
import threading
import time
import zlib

CONTENT_TYPES = {".png": "image/png", ".jpg": "image/jpeg", ".webp": "image/webp",
                 ".gif": "image/gif", ".svg": "image/svg+xml"}


def png_claiming(width, height):
    """A PNG of a few dozen bytes whose header claims width x height pixels."""
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xffffffff))
    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(b"\0" * 64)) + chunk(b"IEND", b""))


class LogoHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    folder = "."
    log_lock = threading.Lock()
    log_path = None

    def log_message(self, format, *args):
        pass

    def note(self):
        conditional = ("conditional" if self.headers.get("If-None-Match") or
                       self.headers.get("If-Modified-Since") else "plain")
        with self.log_lock, open(self.log_path, "a") as log:
            log.write("%s %s\n" % (self.path, conditional))

    def answer(self, status, body=b"", kind="application/octet-stream", headers=()):
        self.send_response(status)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(len(body)))
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def do_GET(self):
        self.note()
        path = self.path.split("?")[0]
        try:
            self.route(path)
        except (BrokenPipeError, ConnectionResetError):
            pass

    def route(self, path):
        if path.startswith("/good/"):
            self.good(os.path.basename(path))
        elif path == "/mislabelled.png":
            data = open(os.path.join(self.folder, "alpha.png"), "rb").read()
            self.answer(200, data, "text/plain")
        elif path == "/slow.png":
            time.sleep(60)
            self.answer(200, b"late")
        elif path == "/endless.png":
            self.send_response(200)
            self.send_header("Content-Type", "image/png")
            self.send_header("Connection", "close")
            self.end_headers()
            block = b"\0" * 65536
            while True:
                self.wfile.write(block)
        elif path == "/huge.png":
            self.send_response(200)
            self.send_header("Content-Type", "image/png")
            self.send_header("Content-Length", str(10 ** 12))
            self.send_header("Connection", "close")
            self.end_headers()
            self.wfile.write(b"\x89PNG")
        elif path == "/bomb.png":
            self.answer(200, png_claiming(50000, 50000), "image/png")
        elif path == "/loop.png":
            self.answer(302, b"", headers=[("Location", "/loop.png")])
        elif path == "/moved.png":
            self.answer(301, b"", headers=[("Location", "/good/alpha.png?moved")])
        elif path == "/to-ftp.png":
            self.answer(302, b"", headers=[("Location", "ftp://127.0.0.1/logo.png")])
        elif path == "/page.png":
            self.answer(200, b"<!doctype html><title>Not found</title><p>Sorry", "text/html")
        elif path == "/empty.png":
            self.answer(200, b"", "image/png")
        else:
            self.answer(404, b"not here", "text/plain")

    def good(self, name):
        file = os.path.join(self.folder, name)
        if not os.path.isfile(file):
            self.answer(404, b"not here", "text/plain")
            return
        data = open(file, "rb").read()
        etag = '"%s"' % hashlib.sha256(data).hexdigest()[:16]
        modified = email.utils.formatdate(os.path.getmtime(file), usegmt=True)
        validators = [("ETag", etag), ("Last-Modified", modified)]
        if self.headers.get("If-None-Match") == etag:
            self.send_response(304)
            for header in validators:
                self.send_header(*header)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        kind = CONTENT_TYPES.get(os.path.splitext(name)[1], "application/octet-stream")
        self.answer(200, data, kind, validators)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--folder", required=True)
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--log", required=True)
    args = parser.parse_args()
    LogoHandler.folder = args.folder
    LogoHandler.log_path = args.log
    open(args.log, "w").close()
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), LogoHandler)
    server.daemon_threads = True
    temporary = args.port_file + ".tmp"
    with open(temporary, "w") as port:
        port.write(str(server.server_address[1]))
    os.rename(temporary, args.port_file)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
