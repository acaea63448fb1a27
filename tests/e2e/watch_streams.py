"""Local channels for the tests of playing inside the window: HLS streams
made by ffmpeg, each a solid colour of its own with a white square moving
across it, served over http on 127.0.0.1 (an ephemeral port) with every
request and every open connection counted; and the faults a channel can
have: an address nobody listens on, a server that accepts and never
answers, a stream cut off after a few seconds."""

import http.server
import os
import socket
import subprocess
import threading

import harness

WIDTH, HEIGHT = 320, 180
BOX = 40
# name -> background colour
COLOURS = {"red": (230, 20, 20), "green": (20, 200, 20), "blue": (20, 20, 230),
           "yellow": (230, 230, 20)}


def make_stream(folder, name, seconds, segment_seconds=1):
    """`seconds` of colour `name` with the moving square, as HLS in
    `folder`/`name`/index.m3u8, and the same as one MPEG-TS file."""
    target = os.path.join(folder, name)
    os.makedirs(target)
    colour = "0x%02x%02x%02x" % COLOURS[name]
    graph = ("color=c=%s:s=%dx%d:r=15:d=%d[bg];color=c=white:s=%dx%d:r=15[box];"
             "[bg][box]overlay=x='mod(t*120,%d)':y=%d:shortest=1"
             % (colour, WIDTH, HEIGHT, seconds, BOX, BOX, WIDTH - BOX, (HEIGHT - BOX) // 2))
    subprocess.run(["ffmpeg", "-hide_banner", "-loglevel", "error", "-y",
                    "-filter_complex", graph, "-c:v", "libx264", "-preset", "ultrafast",
                    "-tune", "zerolatency", "-pix_fmt", "yuv420p", "-g", "15",
                    "-f", "hls", "-hls_time", str(segment_seconds), "-hls_playlist_type", "vod",
                    "-hls_segment_filename", os.path.join(target, "seg%03d.ts"),
                    os.path.join(target, "index.m3u8")], check=True)
    return target


class StreamHandler(http.server.SimpleHTTPRequestHandler):
    """Answers for a StreamServer: notes each path when it is asked for,
    counts the connection open until the answer is sent, and answers
    /cut/<name> with half of <name>'s stream."""

    def log_message(self, format, *args):
        pass

    def handle_one_request(self):
        owner = self.server.owner
        self.raw_requestline = self.rfile.readline(65537)
        if not self.raw_requestline:
            self.close_connection = True
            return
        if not self.parse_request():
            return
        key = self.path.strip("/").split("/")[0]
        with owner.lock:
            owner.requests.append(self.path)
            owner.open[key] = owner.open.get(key, 0) + 1
        try:
            if key == "cut":
                self.send_cut(self.path.strip("/").split("/")[1])
            else:
                getattr(self, "do_" + self.command)()
            self.wfile.flush()
        except OSError:
            self.close_connection = True
        finally:
            with owner.lock:
                owner.open[key] -= 1

    def send_cut(self, name):
        owner = self.server.owner
        with owner.lock:
            again = owner.requests.count(self.path) > 1
        if again:
            self.send_error(404)
            return
        source = os.path.join(self.directory, name)
        data = b"".join(open(os.path.join(source, n), "rb").read()
                        for n in sorted(os.listdir(source)) if n.endswith(".ts"))
        self.send_response(200)
        self.send_header("Content-Type", "video/mp2t")
        self.end_headers()
        self.wfile.write(data[:len(data) // 2])
        self.close_connection = True


class StreamServer(harness.HttpServer):
    """http on 127.0.0.1 for `folder`: every path asked for is logged, open
    connections are counted by the first folder of their last path, and
    /cut/<name> sends the first half of <name>'s segments, one after the
    other as one stream, and then closes the connection; asked again, it
    answers 404 (a stream that stops mid-play for good)."""

    def __init__(self, folder):
        self.open = {}
        super().__init__(StreamHandler, folder)

    def address(self, name):
        return self.url("%s/index.m3u8" % name)

    def cut_address(self, name):
        return self.url("cut/%s" % name)

    def asked(self, name):
        return super().asked("/%s/" % name)

    def connections(self, name):
        with self.lock:
            return self.open.get(name, 0)


class SilentServer:
    """Accepts connections on 127.0.0.1 and never answers them."""

    def __init__(self):
        self.socket = socket.socket()
        self.socket.bind(("127.0.0.1", 0))
        self.socket.listen(16)
        self.port = self.socket.getsockname()[1]
        self.held = []
        self.thread = threading.Thread(target=self._accept, daemon=True)
        self.thread.start()

    def _accept(self):
        while True:
            try:
                connection, _ = self.socket.accept()
            except OSError:
                return
            self.held.append(connection)

    def address(self):
        return "http://127.0.0.1:%d/live/index.m3u8" % self.port

    def close(self):
        self.socket.close()
        for connection in self.held:
            connection.close()


def dead_address():
    """An http address on 127.0.0.1 where nothing listens."""
    probe = socket.socket()
    probe.bind(("127.0.0.1", 0))
    port = probe.getsockname()[1]
    probe.close()
    return "http://127.0.0.1:%d/gone/index.m3u8" % port


def import_channels(args, folder, channels):
    """A playlist of (name, address) pairs imported as the catalogue of the
    sample root in `folder`, with quillon-import."""
    harness.make_sample_root(args, folder)
    playlist = os.path.join(folder, "channels.m3u")
    with open(playlist, "w") as f:
        f.write("#EXTM3U\n")
        for name, address in channels:
            f.write("#EXTINF:-1,%s\n%s\n" % (name, address))
    status, output = harness.run_import(args, folder, playlist)
    harness.check(status == 0, "the import failed with status %d:\n%s" % (status, output))
    # No product page on the presses of these tests.
    harness.write(folder, "VESTRALUME/n/h.txt", "2")
    harness.write(folder, "VESTRALUME/n/b.txt", "1")


def tile_pixels(image, scale, tile):
    """The pixels of the middle of a tile on the wall (a grid over most of
    its face)."""
    points = []
    for i in range(-8, 9):
        for j in range(-4, 5):
            x, y = harness.tile_point(scale, tile, i * 0.28, j * 0.3)
            points.append(image.pixel(x, y))
    return points


def share_close(pixels, colour, tolerance=60):
    return sum(1 for p in pixels if harness.close_colour(p, colour, tolerance)) / len(pixels)


def white_columns(image, scale, tile):
    """Where the white square is across a tile: the mean of the grid
    columns showing white, or None."""
    found = []
    for i in range(-16, 17):
        for j in range(-3, 4):
            x, y = harness.tile_point(scale, tile, i * 0.15, j * 0.3)
            if min(image.pixel(x, y)) > 200:
                found.append(i)
    return sum(found) / len(found) if found else None


def centre_colour(image, width=harness.SCREEN_W, height=harness.SCREEN_H):
    """The window's colour away from the middle row the square crosses."""
    return image.average(width / 2, height * 0.2, 4)


def message_shown(image, width=harness.SCREEN_W, height=harness.SCREEN_H):
    """Whether a line of white text lies across the window's middle on a
    dark picture."""
    white = 0
    for x in range(0, width, 3):
        for y in range(height // 2 - 14, height // 2 + 6, 2):
            if min(image.pixel(x, y)) > 200:
                white += 1
    return white > 40 and max(centre_colour(image, width, height)) < 60
