"""The real program on the sample data root under Xvfb: at rest, and
scrolling.

Measures, with keys sent through the XTest extension and the window read back
with XGetImage (both through ctypes, so a key and a look at the screen cost
well under a millisecond):

- the processor time the wall takes over 10 s with nobody touching it, and
  its resident memory; beside it the same wall kept busy (its selection file
  rewritten every 10 ms);
- how soon an outside rewrite of the selection file (VESTRALUME/n/b.txt)
  shows on screen;
- the latency of one Page Down, from sending the key to the new page file and
  to the new page on screen (a thin strip across the top row of tiles
  changes);
- a held Page Down at a keyboard's repeat rate: whether the program keeps up;
- Page Down sent as fast as possible from the first page to the last: keys
  per second worked through, how often the wall showed a new picture on the
  way, whether it reached the last page;
- how quickly Esc then ends the program.

With --channels N the catalogue is first replaced by an imported playlist of
N channels (bench/import_bench.py's playlist, through the build's
quillon-import), so that the same figures can be set beside those of the
delivered 2,004; the fast Page Down run then goes the same 500 keys from the
first page.

Usage: python3 bench/scroll_latency.py --quillon <exe> --build <builddir>
       --source <srcdir> [--samples N] [--rate KEYS_PER_SECOND]
       [--idle-seconds S] [--rewrites N] [--channels N]
"""

import argparse
import ctypes
import ctypes.util
import os
import random
import statistics
import sys
import time

NEXT, PRIOR, ESCAPE = 0xFF56, 0xFF55, 0xFF1B  # keysyms of Page Down, Page Up, Esc
LAST_PAGE = 1989


def parse_args():
    parser = argparse.ArgumentParser()
    parser.add_argument("--quillon", required=True)
    parser.add_argument("--build", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--samples", type=int, default=30, help="single Page Down presses timed")
    parser.add_argument("--rate", type=float, default=30.0, help="repeat rate of the held key")
    parser.add_argument("--hold-keys", type=int, default=120, help="keys sent while holding")
    parser.add_argument("--idle-seconds", type=float, default=10.0, help="length of the idle measurement")
    parser.add_argument("--rewrites", type=int, default=20, help="outside rewrites of b.txt timed")
    parser.add_argument("--channels", type=int, default=0,
                        help="import a playlist of this many channels first")
    parser.add_argument("--keep", action="store_true")
    args = parser.parse_args()
    for name in ("quillon", "build", "source"):
        setattr(args, name, os.path.abspath(getattr(args, name)))
    return args


class XImageFuncs(ctypes.Structure):
    _fields_ = [("create_image", ctypes.c_void_p), ("destroy_image", ctypes.c_void_p),
                ("get_pixel", ctypes.c_void_p), ("put_pixel", ctypes.c_void_p),
                ("sub_image", ctypes.c_void_p), ("add_pixel", ctypes.c_void_p)]


class XImage(ctypes.Structure):
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.c_void_p), ("byte_order", ctypes.c_int),
                ("bitmap_unit", ctypes.c_int), ("bitmap_bit_order", ctypes.c_int),
                ("bitmap_pad", ctypes.c_int), ("depth", ctypes.c_int),
                ("bytes_per_line", ctypes.c_int), ("bits_per_pixel", ctypes.c_int),
                ("red_mask", ctypes.c_ulong), ("green_mask", ctypes.c_ulong),
                ("blue_mask", ctypes.c_ulong), ("obdata", ctypes.c_void_p), ("f", XImageFuncs)]


DESTROY_IMAGE = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.POINTER(XImage))


class Display:
    """Keys and pixels straight through Xlib and XTest."""

    def __init__(self, name):
        self.x11 = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
        self.xtst = ctypes.CDLL(ctypes.util.find_library("Xtst") or "libXtst.so.6")
        self.x11.XOpenDisplay.restype = ctypes.c_void_p
        self.x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x11.XGetImage.restype = ctypes.POINTER(XImage)
        self.x11.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                                       ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
        self.x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        self.x11.XKeysymToKeycode.restype = ctypes.c_ubyte
        self.x11.XFlush.argtypes = [ctypes.c_void_p]
        self.x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        self.x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int,
                                                ctypes.c_ulong]
        self.handle = self.x11.XOpenDisplay(name.encode())
        if not self.handle:
            raise RuntimeError("cannot open display " + name)

    def keycode(self, keysym):
        return self.x11.XKeysymToKeycode(self.handle, keysym)

    def key(self, keycode):
        """Press and release; returns once the server has them."""
        self.xtst.XTestFakeKeyEvent(self.handle, keycode, 1, 0)
        self.xtst.XTestFakeKeyEvent(self.handle, keycode, 0, 0)
        self.x11.XFlush(self.handle)

    def grab(self, window, x, y, width, height):
        image = self.x11.XGetImage(self.handle, window, x, y, width, height, 0xFFFFFFFF, 2)
        if not image:
            return b""
        data = ctypes.string_at(image.contents.data, image.contents.bytes_per_line * height)
        DESTROY_IMAGE(image.contents.f.destroy_image)(image)
        return data

    def close(self):
        self.x11.XCloseDisplay(self.handle)


def page_start(folder):
    try:
        with open(os.path.join(folder, "VESTRALUME", "n", "z1.txt"), "rb") as f:
            return int(f.read().split()[0])
    except (OSError, ValueError, IndexError):
        return None


def strip_of_top_row(harness, folder, geometry):
    """A strip two pixels high across the thumbnails of tiles 1 to 4 (window
    coordinates), a little above their centres where their background
    colours show."""
    with open(os.path.join(folder, "VESTRALUME", "n", "u.txt")) as f:
        scale = float(f.read().split()[0])
    width, height = geometry
    left = harness.tile_point(scale, 1, -2.9, 1.2, width, height)
    right = harness.tile_point(scale, 4, 2.9, 1.2, width, height)
    x0 = max(int(left[0]), 0)
    x1 = min(int(right[0]), width - 1)
    y = min(max(int(left[1]), 0), height - 2)
    return x0, y, x1 - x0, 2


def cpu_seconds(pid):
    """Processor time of the whole process (every thread), user and system."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def resident_mib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024
    return None


def replace_file(path, text):
    """An outside program's rewrite: a temporary file renamed over."""
    temporary = path + ".bench-tmp"
    with open(temporary, "w") as f:
        f.write(text)
    os.replace(temporary, path)


def box_of_tiles(harness, scale, geometry, first, last):
    """The window rectangle holding tiles `first` to `last` of one row with
    the selection frame around them."""
    width, height = geometry
    left, top = harness.tile_point(scale, first, -3.6, 2.3, width, height)
    right, bottom = harness.tile_point(scale, last, 3.6, -2.3, width, height)
    x0, y0 = max(int(left), 1), max(int(top), 1)
    x1, y1 = min(int(right), width - 1), min(int(bottom), height - 1)
    return x0, y0, x1 - x0, y1 - y0


def measure_rest(args, harness, app, display, window, folder, results):
    """Idle processor time and memory, the busy yardstick, and outside
    rewrites of b.txt."""
    pid = app.process.pid
    selection = os.path.join(folder, "VESTRALUME", "n", "b.txt")
    with open(selection) as f:
        original = f.read()
    time.sleep(1.0)
    start = cpu_seconds(pid)
    time.sleep(args.idle_seconds)
    results["idle_cores"] = (cpu_seconds(pid) - start) / args.idle_seconds
    results["idle_seconds"] = args.idle_seconds
    results["idle_mib"] = resident_mib(pid)

    # The yardstick: the same wall made to draw all the time.
    busy_seconds = min(5.0, args.idle_seconds)
    start, began, k = cpu_seconds(pid), time.perf_counter(), 0
    while time.perf_counter() - began < busy_seconds:
        replace_file(selection, "6" if k % 2 else "7")
        k += 1
        time.sleep(0.01)
    results["busy_cores"] = (cpu_seconds(pid) - start) / (time.perf_counter() - began)
    replace_file(selection, "6")
    time.sleep(0.5)

    # Outside rewrites of b.txt, moving the mark between tiles 6 and 7.
    with open(os.path.join(folder, "VESTRALUME", "n", "u.txt")) as f:
        scale = float(f.read().split()[0])
    region = box_of_tiles(harness, scale, app.geometry(), 6, 7)
    look = lambda: display.grab(window, *region)
    latencies = []
    for k in range(args.rewrites):
        before = look()
        sent = time.perf_counter()
        replace_file(selection, "7" if k % 2 == 0 else "6")
        seen = None
        while time.perf_counter() - sent < 3.0:
            if look() != before:
                seen = time.perf_counter()
                break
        if seen is not None:
            latencies.append((seen - sent) * 1000)
        time.sleep(0.08 + random.random() * 0.04)  # not in step with the timer
    results["rewrites"] = args.rewrites
    results["rewrite_ms"] = latencies
    replace_file(selection, original)
    time.sleep(0.3)


def percentile(values, share):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(share * len(ordered)))]


def wait_page(folder, wanted, timeout):
    deadline = time.perf_counter() + timeout
    while time.perf_counter() < deadline:
        if page_start(folder) == wanted:
            return time.perf_counter()
        time.sleep(0.002)
    return None


def import_channels(args, folder, count):
    """Replaces the sample root's catalogue by a playlist of `count` entries."""
    import subprocess
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    import import_bench
    playlist = os.path.join(folder, "channels.m3u")
    import_bench.make_playlist(playlist, count)
    began = time.perf_counter()
    subprocess.run([os.path.join(args.build, "tools", "quillon-import"), "--root", folder, playlist],
                   env=dict(os.environ, XDG_CACHE_HOME=os.path.join(folder, "cache")), check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    print("imported %d channels in %.1f s" % (count, time.perf_counter() - began), flush=True)


def measure(args, harness, server, folder):
    harness.make_sample_root(args, folder)
    if args.channels:
        import_channels(args, folder, args.channels)
    app = harness.Quillon(server, args.quillon, folder)
    display = Display(server.display)
    window = int(app.window)
    results = {}
    try:
        region = strip_of_top_row(harness, folder, app.geometry())
        look = lambda: display.grab(window, *region)
        next_key, prior_key, escape_key = (display.keycode(k) for k in (NEXT, PRIOR, ESCAPE))

        # Start-up is over once the strip has not changed for a second.
        last, steady_since = look(), time.perf_counter()
        deadline = steady_since + 30
        while time.perf_counter() - steady_since < 1.0 and time.perf_counter() < deadline:
            time.sleep(0.02)
            now = look()
            if now != last:
                last, steady_since = now, time.perf_counter()

        measure_rest(args, harness, app, display, window, folder, results)

        # What one look at the screen costs: the resolution of the figures.
        costs = []
        for _ in range(50):
            t = time.perf_counter()
            look()
            costs.append(time.perf_counter() - t)
        results["look_ms"] = statistics.median(costs) * 1000

        # Single presses, each from a settled wall.
        to_file, to_screen = [], []
        for _ in range(args.samples):
            before_page, before_strip = page_start(folder), look()
            sent = time.perf_counter()
            display.key(next_key)
            file_at = screen_at = None
            while time.perf_counter() - sent < 3.0 and screen_at is None:
                now = time.perf_counter()
                if file_at is None and page_start(folder) != before_page:
                    file_at = now
                if look() != before_strip:
                    screen_at = time.perf_counter()
            if file_at is not None:
                to_file.append((file_at - sent) * 1000)
            if screen_at is not None:
                to_screen.append((screen_at - sent) * 1000)
            time.sleep(0.08 + random.random() * 0.04)  # not in step with the frames
        results["single_samples"] = args.samples
        results["single_file"] = to_file
        results["single_screen"] = to_screen

        # A held key at the keyboard's repeat rate: the lag between each key
        # and the page file showing it.
        start_page = page_start(folder)
        interval = 1.0 / args.rate
        sent_at, reached_at = [], {}

        def note_pages():
            page = page_start(folder)
            if page is not None:
                done = (page - start_page) // 4
                for k in range(1, done + 1):
                    reached_at.setdefault(k, time.perf_counter())

        first_sent = time.perf_counter()
        for k in range(1, args.hold_keys + 1):
            while time.perf_counter() < first_sent + (k - 1) * interval:
                note_pages()
                time.sleep(0.0005)
            display.key(next_key)
            sent_at.append(time.perf_counter())
        deadline = time.perf_counter() + 30
        while len(reached_at) < args.hold_keys and time.perf_counter() < deadline:
            note_pages()
            time.sleep(0.0005)
        lags = [(reached_at[k] - sent_at[k - 1]) * 1000 for k in range(1, args.hold_keys + 1)
                if k in reached_at]
        results["hold_keys"] = args.hold_keys
        results["hold_rate"] = args.rate
        results["hold_lags"] = lags

        # Back to the first page as fast as keys go.
        keys_back = (page_start(folder) - 1) // 4
        for _ in range(keys_back):
            display.key(prior_key)
        wait_page(folder, 1, 60)
        time.sleep(0.5)

        # Page Down as fast as keys go, from the first page to the last (and
        # a few more, which must change nothing). Count the new pictures the
        # wall shows on the way.
        keys = (LAST_PAGE - 1) // 4
        # A bigger catalogue goes on past the delivered last page: every key
        # moves it.
        target = 1 + 4 * (keys + 3) if args.channels else LAST_PAGE
        results["flood_target"] = target
        seen, last = 0, look()
        longest_still, last_change = 0.0, None
        started = time.perf_counter()
        for _ in range(keys + 3):
            display.key(next_key)
        sent_all = time.perf_counter()
        deadline = started + 120
        reached = None
        while time.perf_counter() < deadline:
            now = time.perf_counter()
            strip = look()
            if strip != last:
                seen += 1
                longest_still = max(longest_still, now - (last_change or started))
                last, last_change = strip, now
            if reached is None and page_start(folder) == target:
                reached = now
            if reached is not None and now - reached > 0.3:
                break
        results["flood_keys"] = keys + 3
        results["flood_send_ms"] = (sent_all - started) * 1000
        results["flood_reached"] = reached is not None
        results["flood_s"] = (reached - started) if reached else None
        results["flood_pictures"] = seen
        results["flood_longest_still_ms"] = longest_still * 1000
        results["final_page"] = page_start(folder)
        time.sleep(1.5)  # the wall rests and gives freed memory back
        results["flood_mib"] = resident_mib(app.process.pid)

        # Esc ends the program.
        sent = time.perf_counter()
        display.key(escape_key)
        try:
            status = app.process.wait(20)
            results["esc_ms"] = (time.perf_counter() - sent) * 1000
            results["esc_status"] = status
        except Exception:
            results["esc_ms"] = None
    finally:
        display.close()
        app.stop()
    return results


def report(r):
    catalogue = ("the sample root with %s imported channels" % format(r["channels"], ",")
                 if r["channels"] else "the sample root")
    print("\nThe real program (Release) on %s, Xvfb 1920x1080x24" % catalogue)
    print("-" * 100)
    print("idle wall, %.0f s nobody touching it:   %.4f cores   (limit 0.01: %s); resident %.0f MiB"
          % (r["idle_seconds"], r["idle_cores"], "ok" if r["idle_cores"] <= 0.01 else "MISSED",
             r["idle_mib"] or 0))
    print("  yardstick, the same wall kept busy:  %.3f cores   (b.txt rewritten every 10 ms)"
          % r["busy_cores"])
    rewrites = r["rewrite_ms"]
    if rewrites:
        print("outside rewrite of b.txt -> on screen  median %5.1f ms   p90 %5.1f ms   max %5.1f ms"
              "   (%d of %d; limit 50 ms: %s)"
              % (statistics.median(rewrites), percentile(rewrites, 0.9), max(rewrites), len(rewrites),
                 r["rewrites"], "ok" if len(rewrites) == r["rewrites"] and max(rewrites) <= 50
                 else "MISSED"))
    else:
        print("outside rewrite of b.txt -> on screen: never seen")
    print("one look at the screen (XGetImage of the strip): %.2f ms" % r["look_ms"])
    for name, values in (("Page Down -> new page file", r["single_file"]),
                         ("Page Down -> new page on screen", r["single_screen"])):
        if values:
            verdict = ""
            if name.endswith("on screen"):
                verdict = "; limit median 30 ms: %s" % (
                    "ok" if statistics.median(values) <= 30 else "MISSED")
            print("%-36s median %6.1f ms   p90 %6.1f ms   (%d of %d presses%s)"
                  % (name, statistics.median(values), percentile(values, 0.9), len(values),
                     r["single_samples"], verdict))
        else:
            print("%-36s no change seen" % name)
    lags = r["hold_lags"]
    if len(lags) == r["hold_keys"]:
        print("held Page Down, %d keys at %.0f/s: key -> page file median %.1f ms, max %.1f ms"
              % (r["hold_keys"], r["hold_rate"], statistics.median(lags), max(lags)))
    else:
        print("held Page Down, %d keys at %.0f/s: only %d keys reached the page file"
              % (r["hold_keys"], r["hold_rate"], len(lags)))
    if r["flood_reached"]:
        print("Page Down as fast as keys go, pages 1 -> %d: %d keys sent in %.0f ms, last page after "
              "%.2f s = %.0f keys/s" % (r["flood_target"], r["flood_keys"], r["flood_send_ms"], r["flood_s"],
                                        (r["flood_keys"] - 3) / r["flood_s"]))
    else:
        print("Page Down as fast as keys go: the last page was NOT reached (page %s)" % r["final_page"])
    print("  new pictures on the wall on the way: %d; longest time without one: %.0f ms"
          % (r["flood_pictures"], r["flood_longest_still_ms"]))
    print("  final page starts at %s (%s); resident at rest %.0f MiB"
          % (r["final_page"], "every key moved it" if r["channels"] else "3 extra keys change nothing",
             r["flood_mib"] or 0))
    if r.get("esc_ms") is not None:
        print("Esc after that: the program ended %.0f ms later with status %s"
              % (r["esc_ms"], r["esc_status"]))
    else:
        print("Esc after that: the program did NOT end within 20 s")


def main():
    args = parse_args()
    sys.path.insert(0, os.path.join(args.source, "tests", "e2e"))
    import harness  # the end-to-end tests' helpers: Xvfb, the program, the sample root

    server = harness.XServer()
    scratch = harness.Scratch(args.keep)
    try:
        results = measure(args, harness, server, scratch.folder)
        results["channels"] = args.channels
    finally:
        server.close()
        scratch.close()
    report(results)
    ok = results["flood_reached"] and results.get("esc_ms") is not None
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
