"""Shared helpers for the end-to-end tests: a private X server, the real
program in its window, keys and mouse through xdotool, and screenshots read
back as pixels."""

import argparse
import functools
import http.server
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

SCREEN_W, SCREEN_H = 1920, 1080


def parse_args():
    parser = argparse.ArgumentParser()
    parser.add_argument("--quillon", required=True)
    parser.add_argument("--build", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--keep", action="store_true", help="keep the scratch folder")
    args = parser.parse_args()
    args.quillon = os.path.abspath(args.quillon)
    args.build = os.path.abspath(args.build)
    args.source = os.path.abspath(args.source)
    return args


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def wait_until(predicate, timeout=20.0, interval=0.1, what="condition"):
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure("timed out waiting for " + what)
        time.sleep(interval)


class XServer:
    """A private Xvfb, so tests never share a display or the keyboard focus."""

    def __init__(self, width=SCREEN_W, height=SCREEN_H):
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0",
             "%dx%dx24" % (width, height), "-nolisten", "tcp", "-noreset", "+extension", "GLX"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        number = b""
        with os.fdopen(read_end, "rb") as reader:
            while not number.endswith(b"\n"):
                chunk = reader.read(1)
                if not chunk:
                    break
                number += chunk
        if not number.strip():
            raise Failure("Xvfb did not start")
        self.display = ":" + number.decode().strip()

    def env(self, extra=None):
        env = dict(os.environ)
        env["DISPLAY"] = self.display
        env.pop("XAUTHORITY", None)
        # The graphics driver keeps allocations until exit; only real memory
        # errors and undefined behaviour should fail a sanitizer build.
        env.setdefault("ASAN_OPTIONS", "detect_leaks=0:abort_on_error=1")
        env.setdefault("UBSAN_OPTIONS", "print_stacktrace=1:halt_on_error=1")
        # Catalogues of the tests name made-up servers (".example"): no
        # companion may go looking for them. The tests of live pictures
        # switch them on.
        env.setdefault("QUILLON_LIVE_PICTURES", "off")
        if extra:
            env.update(extra)
        return env

    def run(self, *args, check_status=True):
        result = subprocess.run(list(args), env=self.env(), capture_output=True, text=True)
        if check_status and result.returncode != 0:
            raise Failure("%s failed: %s" % (" ".join(args), result.stderr.strip()))
        return result.stdout

    def close(self):
        self.process.terminate()
        try:
            self.process.wait(5)
        except subprocess.TimeoutExpired:
            self.process.kill()


class Image:
    """A screenshot as rows of RGB pixels (x right, y down from the top left)."""

    def __init__(self, width, height, data, origin=(0, 0)):
        self.width, self.height, self.data = width, height, data
        self.origin = origin  # where the window's top left lies in the image

    def pixel(self, x, y):
        """The pixel at window coordinates (x, y)."""
        x = int(x) + self.origin[0]
        y = int(y) + self.origin[1]
        x = min(max(x, 0), self.width - 1)
        y = min(max(int(y), 0), self.height - 1)
        i = (y * self.width + x) * 3
        return tuple(self.data[i:i + 3])

    def average(self, x, y, radius=3):
        total = [0, 0, 0]
        count = 0
        for dy in range(-radius, radius + 1):
            for dx in range(-radius, radius + 1):
                p = self.pixel(x + dx, y + dy)
                for c in range(3):
                    total[c] += p[c]
                count += 1
        return tuple(t // count for t in total)


def parse_ppm(data):
    # Binary PPM: "P6\n<w> <h>\n<max>\n" then bytes.
    fields = []
    i = 0
    while len(fields) < 4:
        while data[i:i + 1].isspace():
            i += 1
        if data[i:i + 1] == b"#":
            while data[i:i + 1] != b"\n":
                i += 1
            continue
        start = i
        while not data[i:i + 1].isspace():
            i += 1
        fields.append(data[start:i])
    i += 1
    if fields[0] != b"P6":
        raise Failure("not a PPM image")
    width, height = int(fields[1]), int(fields[2])
    return Image(width, height, data[i:i + width * height * 3])


def close_colour(a, b, tolerance=40):
    return all(abs(int(x) - int(y)) <= tolerance for x, y in zip(a, b))


class Quillon:
    """The real program, started in `folder` (its working directory)."""

    def __init__(self, server, exe, folder, env=None, launcher=(), log_path=None,
                 start_timeout=60):
        """`launcher` goes before the program on its command line (for
        example to run it as another user); its output goes to `log_path`,
        by default quillon.log in its working directory. The window must
        show within `start_timeout` seconds."""
        self.server = server
        self.folder = folder
        self.log_path = log_path or os.path.join(folder, "quillon.log")
        self.log = open(self.log_path, "ab")
        # Channels play inside the window only in the tests made for it (they
        # pass QUILLON_PLAY_IN_WINDOW=yes): the others have roots whose
        # made-up stream addresses must never be looked up.
        env = dict(env or {})
        env.setdefault("QUILLON_PLAY_IN_WINDOW", "no")
        self.process = subprocess.Popen(list(launcher) + [exe], cwd=folder, env=server.env(env),
                                        stdout=self.log, stderr=subprocess.STDOUT)
        self.window = None
        self.window = wait_until(self._find_window, start_timeout, what="the Quillon window")
        # No window manager runs: give the window the keyboard focus directly.
        server.run("xdotool", "windowfocus", "--sync", self.window, check_status=False)

    def _find_window(self):
        if self.process.poll() is not None:
            raise Failure("Quillon ended during start-up with status %s:\n%s"
                          % (self.process.returncode, self.output()))
        out = self.server.run("xdotool", "search", "--onlyvisible", "--pid",
                              str(self.process.pid), "--name", "^Quillon$", check_status=False)
        ids = out.split()
        return ids[0] if ids else None

    def output(self):
        self.log.flush()
        with open(self.log_path, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def placement(self):
        out = self.server.run("xdotool", "getwindowgeometry", "--shell", self.window)
        values = dict(line.split("=", 1) for line in out.split() if "=" in line)
        return (int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"]))

    def geometry(self):
        return self.placement()[2:]

    def key(self, *names, delay_ms=60):
        self.server.run("xdotool", "windowfocus", "--sync", self.window, check_status=False)
        self.server.run("xdotool", "key", "--delay", str(delay_ms), *names)

    def drag(self, x0, y0, x1, y1, button=1):
        run = self.server.run
        run("xdotool", "mousemove", "--window", self.window, str(x0), str(y0))
        run("xdotool", "mousedown", str(button))
        steps = 10
        for s in range(1, steps + 1):
            x = x0 + (x1 - x0) * s // steps
            y = y0 + (y1 - y0) * s // steps
            run("xdotool", "mousemove", "--window", self.window, str(x), str(y))
            time.sleep(0.02)
        run("xdotool", "mouseup", str(button))

    def screenshot(self, path=None):
        """The screen as the user sees it, addressed in window coordinates.
        Without a window manager the toolkit places the window at (-1, -1), so
        the screen shows all of it but its outermost row and column."""
        x, y, _, _ = self.placement()
        xwd = subprocess.run(["xwd", "-root", "-silent"], env=self.server.env(),
                             capture_output=True, check=True)
        ppm = subprocess.run(["/usr/bin/convert", "xwd:-", "ppm:-"], input=xwd.stdout,
                             capture_output=True, check=True)
        if path:
            subprocess.run(["/usr/bin/convert", "xwd:-", path], input=xwd.stdout, check=True)
        image = parse_ppm(ppm.stdout)
        image.origin = (x, y)
        return image

    def alive(self):
        return self.process.poll() is None

    def resident_bytes(self):
        """The program's resident memory (VmRSS), 0 once it has ended."""
        try:
            with open("/proc/%d/status" % self.process.pid) as f:
                for line in f:
                    if line.startswith("VmRSS:"):
                        return int(line.split()[1]) * 1024
        except OSError:
            pass
        return 0

    def wait_exit(self, timeout=20):
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            raise Failure("Quillon did not end")

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        self.log.close()


def read(folder, relative):
    with open(os.path.join(folder, relative), "rb") as f:
        return f.read().decode("latin-1")


def write(folder, relative, text):
    path = os.path.join(folder, relative)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(text.encode("latin-1"))


def make_sample_root(args, folder):
    """The full sample data root made by the project's generator. It is made
    once per build into <build>/e2e-template (never run, so never changed)
    and copied from there."""
    tool = os.path.join(args.build, "tools", "quillon-make-data")
    template = os.path.join(args.build, "e2e-template")
    stamp = os.path.join(template, "VESTRALUME", "links.tsv")
    if not os.path.isfile(stamp) or os.path.getmtime(stamp) < os.path.getmtime(tool):
        subprocess.run([tool, "--force", "--cache", os.path.join(args.build, "card-cache"),
                        template], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cp", "-a", os.path.join(template, "VESTRALUME"),
                    os.path.join(folder, "VESTRALUME")], check=True)


def copy_root(source, target):
    """A copy of the folder `source` (a data root and what lies beside it) as
    `target`, with cp: for the thousands of small files of the sample root
    it takes a fraction of the time shutil.copytree does."""
    subprocess.run(["cp", "-a", source, target], check=True)


def remove_root(folder):
    subprocess.run(["rm", "-rf", folder], check=True)


def solid_jpeg(path, rgb, size="64x32"):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    subprocess.run(["/usr/bin/convert", "-size", size, "xc:#%02x%02x%02x" % rgb,
                    "-quality", "95", "jpg:" + path], check=True)


def channel_colour(list_number, channel):
    """A distinct, saturated colour per channel for fixture thumbnails."""
    palette = [(255, 0, 0), (0, 255, 0), (0, 0, 255), (255, 255, 0), (255, 0, 255),
               (0, 255, 255), (255, 128, 0), (128, 0, 255), (0, 128, 0), (128, 128, 255),
               (255, 255, 255), (128, 64, 0), (0, 128, 128), (255, 128, 192), (128, 128, 0),
               (64, 64, 64)]
    base = palette[(channel - 1) % len(palette)]
    if list_number == 2:
        base = tuple(255 - c // 2 for c in base)
    return base


def make_fixture_root(args, folder, channels=range(1, 33), favourites=range(1, 33)):
    """The sample root with solid-colour thumbnails for the given channels, so
    tests can tell tiles apart by colour. The rest of the root (models, images,
    state) is the sample root's."""
    make_sample_root(args, folder)
    for n in channels:
        solid_jpeg(os.path.join(folder, "VESTRALUME/1/%d.Quillon" % n), channel_colour(1, n))
    for n in favourites:
        solid_jpeg(os.path.join(folder, "VESTRALUME/2/%d.Quillon" % n), channel_colour(2, n))


class Scratch:
    def __init__(self, keep=False):
        # A memory file system keeps the thousands of small files of a data
        # root quick to make and copy.
        base = "/dev/shm" if os.access("/dev/shm", os.W_OK) else None
        self.folder = tempfile.mkdtemp(prefix="quillon-e2e-", dir=base)
        self.keep = keep

    def close(self):
        # An import leaves a card maker working in the background; it ends
        # with the folder it works on.
        stop_card_makers(self.folder)
        if self.keep:
            print("scratch folder kept:", self.folder)
        else:
            shutil.rmtree(self.folder, ignore_errors=True)


def card_makers(folder):
    """Process ids of the background card makers (quillon-import
    --make-cards) working on a data root in `folder` or below it."""
    found = []
    prefix = os.fsencode(os.path.realpath(folder))
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                words = f.read().split(b"\0")
        except OSError:
            continue
        if b"--make-cards" in words and any(
                os.path.realpath(word).startswith(prefix) for word in words if word.startswith(b"/")):
            found.append(int(pid))
    return found


def stop_card_makers(folder):
    for pid in card_makers(folder):
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
    wait_until(lambda: not card_makers(folder), 10, 0.05, "the card makers to end")


def main(test):
    """Runs test(args, server, scratch_folder) and reports like a test program."""
    args = parse_args()
    server = XServer()
    scratch = Scratch(args.keep)
    status = 0
    try:
        test(args, server, scratch.folder)
        print("PASS")
    except Exception as failure:  # any error fails the test, with the folder kept
        import traceback
        traceback.print_exc()
        print("FAIL:", failure)
        scratch.keep = True
        status = 1
    finally:
        server.close()
        scratch.close()
    sys.exit(status)


# Where the wall stands: the same numbers as the program's placement, kept
# here independently so the tests check the program rather than restate it.
BANDS = [  # (lower, lower included, upper, offset)
    (2.3, False, 100.0, (-23, 6, -35)), (2.2, False, 2.3, (-22, 4, -35)),
    (2.1, False, 2.2, (-21, 4, -35)), (2.0, True, 2.1, (-20.5, 4, -35)),
    (1.9, False, 2.0, (-20, 4, -35)), (1.8, False, 1.9, (-19, 4, -35)),
    (1.7, False, 1.8, (-18, 4, -35)), (1.6, False, 1.7, (-17, 4, -35)),
    (0.0, False, 1.6, (-16, 4, -35)),
]


def float32(value):
    import struct
    return struct.unpack("f", struct.pack("f", value))[0]


def band_offset(scale):
    s = float32(scale)
    for lower, included, upper, offset in BANDS:
        if (s >= lower if included else s > lower) and s < upper:
            return offset
    return (0, 0, 0)


def tile_point(scale, tile, dx=0.0, dy=0.0, width=SCREEN_W, height=SCREEN_H):
    """Window pixel (x from the left, y from the top) of the point (dx, dy)
    wall units from tile `tile`'s origin, at wall scale `scale`."""
    import math
    s = float32(scale)
    column, row = (tile - 1) % 4, (tile - 1) // 4
    ox, oy, oz = band_offset(scale)
    x = ox + s * (6.55 * column + dx)
    y = 5.5 + oy + s * (-3.75 * row + dy)
    z = oz
    f = 1.0 / math.tan(math.radians(30))
    aspect = width / height
    ndc_x = (f / aspect) * x / -z
    ndc_y = f * y / -z
    return ((ndc_x + 1) / 2 * width, (1 - ndc_y) / 2 * height)


def run_checker(args, folder):
    """The data-root checker's verdict: (sound, problem lines)."""
    tool = os.path.join(args.build, "tools", "quillon-check-data")
    result = subprocess.run([tool, folder], capture_output=True, text=True)
    lines = [line for line in result.stdout.splitlines() if line.strip()]
    return result.returncode == 0, lines


def state_snapshot(folder):
    """Every file of the state folder with its bytes."""
    state = os.path.join(folder, "VESTRALUME", "n")
    snapshot = {}
    for name in sorted(os.listdir(state)):
        path = os.path.join(state, name)
        try:
            if os.path.isfile(path):
                with open(path, "rb") as f:
                    snapshot[name] = f.read()
        except FileNotFoundError:
            pass  # a temporary file renamed into place since the listing
    return snapshot


def wait_settled(folder, quiet=2.0, timeout=120, app=None):
    """Waits until the state files have not changed for `quiet` seconds: the
    program has worked through every key it was sent. With `app` the wait
    also ends when that program has ended (a kill, for the tests that kill
    it): nothing will change any more."""
    last = [state_snapshot(folder), time.monotonic()]

    def settled():
        if app is not None and not app.alive():
            return True
        now = state_snapshot(folder)
        if now != last[0]:
            last[0], last[1] = now, time.monotonic()
            return False
        return time.monotonic() - last[1] >= quiet
    wait_until(settled, timeout, 0.25, "the program to work through its keys")


SANITIZER_MARKS = ("AddressSanitizer", "UndefinedBehaviorSanitizer", "runtime error:",
                   "LeakSanitizer")


def sanitizer_reports(text):
    return [line for line in text.splitlines() if any(m in line for m in SANITIZER_MARKS)]


# quillon-import, run as the tests run it: with a cache of its own beside
# the root, sanitizer reports that end it.

def importer_command(args, folder, *arguments, root=True):
    """quillon-import with `arguments`, on the root in `folder` unless
    `root` is false (then it finds the user's own root)."""
    return ([os.path.join(args.build, "tools", "quillon-import")] +
            (["--root", folder] if root else []) + list(arguments))


def importer_env(folder, extra=None):
    env = dict(os.environ)
    env["XDG_CACHE_HOME"] = os.path.join(folder, "cache")
    env.setdefault("ASAN_OPTIONS", "detect_leaks=0:abort_on_error=1")
    env.update(extra or {})
    return env


def run_import(args, folder, *arguments, root=True, stdin=None, extra_env=None, timeout=300):
    """Runs quillon-import to its end: its status, and its standard output
    and error as one text."""
    result = subprocess.run(importer_command(args, folder, *arguments, root=root),
                            env=importer_env(folder, extra_env), input=stdin, capture_output=True,
                            text=True, timeout=timeout)
    return result.returncode, result.stdout + result.stderr


# The tests' web servers: on 127.0.0.1 only, on a port the system picks, so
# tests of several developers run side by side on one machine.

class FileHandler(http.server.SimpleHTTPRequestHandler):
    """Answers from the server's folder and notes every answer with its
    server (HttpServer.note) instead of printing it."""

    def log_request(self, code="-", size="-"):
        self.server.owner.note(self.path, code)

    def log_message(self, format, *arguments):
        pass


class HttpServer:
    """An HTTP server on 127.0.0.1 answering from threads of its own until
    close(). A test file starts the servers it needs once and uses them for
    all its cases. `handler` is a request handler class (FileHandler unless
    given), which reaches this object as `self.server.owner`; with `folder`
    it serves that folder. The port is an ephemeral one, or `port`: the port
    of an earlier server, for a server that goes down and comes back.
    Handlers that keep the standard logging note every answer: the paths
    asked for in `requests`, (path, status) pairs in `answers`."""

    def __init__(self, handler=None, folder=None, port=0):
        self.requests = []
        self.answers = []
        self.lock = threading.Lock()
        handler = handler or FileHandler
        if folder is not None:
            handler = functools.partial(handler, directory=folder)
        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", port), handler)
        self.server.daemon_threads = True
        self.server.owner = self
        self.port = self.server.server_address[1]
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def url(self, path=""):
        return "http://127.0.0.1:%d/%s" % (self.port, path.lstrip("/"))

    def note(self, path, status):
        with self.lock:
            self.requests.append(path)
            self.answers.append((path, str(getattr(status, "value", status))))

    def asked(self, prefix="/"):
        """The paths asked for so far that start with `prefix`."""
        with self.lock:
            return [path for path in self.requests if path.startswith(prefix)]

    def close(self):
        self.server.shutdown()
        self.server.server_close()

    def __enter__(self):
        return self

    def __exit__(self, *exception):
        self.close()


# Killing a command at each of its renames. Every replacement of a file or
# folder the programs make ends in a rename, so a kill just before each one
# reaches every state a power cut could leave, in order and without timing
# luck.

RENAMES = "rename,renameat,renameat2"


def can_trace():
    """Whether strace may trace programs here (ptrace can be forbidden)."""
    return subprocess.run(["strace", "-qq", "-e", "trace=none", "true"],
                          capture_output=True).returncode == 0


def skip_unless_traceable():
    """Whether the kill tests can run here; says why they are skipped when not."""
    if can_trace():
        return True
    print("SKIPPED: strace cannot trace programs here (no ptrace)")
    return False


def end_traced_run(app, folder):
    """Ends a run of the program that a kill may have ended already: when it
    still runs, once its files are settled, with Esc."""
    if app.alive():
        wait_settled(folder, quiet=1.0, app=app)
    if app.alive():
        app.key("Escape")
    app.wait_exit(30)


class RenameKill:
    """One run of kill_at_every_rename: `n`, the `tracer` to put before the
    command (strace), and the strace `log` of the run."""

    def __init__(self, n, log, follow, fail_exchange):
        self.n = n
        self.log = log
        renames = "rename,renameat" if fail_exchange else RENAMES
        self.tracer = ["strace"] + (["-f"] if follow else []) + \
            ["-y", "-o", log, "-e", "signal=none", "-e", "trace=" + RENAMES]
        if fail_exchange:
            self.tracer += ["-e", "inject=renameat2:error=ENOSYS"]
        self.tracer += ["-e", "inject=%s:signal=KILL:when=%d" % (renames, n), "--"]

    def killed(self):
        """Whether a rename of the run was killed (it never returned)."""
        if not os.path.exists(self.log):
            return False
        with open(self.log, encoding="utf-8", errors="replace") as f:
            return any(re.search(r"\brename\w*\(.*\) = \?$", line.rstrip()) for line in f)

    def replaced(self, folder):
        """The files and folders the run replaced, in order: the full path
        of each successful rename's target (relative names are taken in
        `folder`)."""
        names = []
        with open(self.log, encoding="utf-8", errors="replace") as f:
            for line in f:
                line = re.sub(r"^\d+ +", "", line.rstrip())
                if not line.startswith("rename") or not line.endswith("= 0"):
                    continue
                # renameat(5</path/to/folder>, ".x.tmp", 5</path/to/folder>, "x") = 0
                # rename("dir/.x.tmp", "dir/x") = 0
                folders = re.findall(r"<([^>]*)>", line)
                target = re.findall(r'"([^"]*)"', line)[-1]
                names.append(os.path.join(folders[-1] if folders else folder, target))
        return names


class TracedQuillon(Quillon):
    """The program under a tracer (a RenameKill's): its window is found by
    name, as the process started is the tracer's."""

    def _find_window(self):
        if self.process.poll() is not None:
            raise Failure("Quillon ended during start-up:\n" + self.output())
        out = self.server.run("xdotool", "search", "--onlyvisible", "--name", "^Quillon$",
                              check_status=False)
        ids = out.split()
        return ids[0] if ids else None


def kill_at_every_rename(folder, follow=False, fail_exchange=False, every=1, limit=400):
    """Yields a RenameKill for n = 1, 2, ...: the caller runs its command
    under `kill.tracer` and checks what the run left. strace kills the
    process with SIGKILL just before its n-th rename. Only the command's
    main thread is traced, unless `follow`: then every thread and process
    it starts is, each killed at its own n-th rename (strace counts per
    thread), which a script starting programs needs. With `fail_exchange`
    every renameat2 fails with ENOSYS, so the programs take their way
    without an atomic exchange, and only rename and renameat are counted.
    With `every` above 1 only renames 1, 1 + every, 1 + 2 every... are
    killed, for commands with too many renames to try each (a storm of
    keys, a copy of thousands of files); the points stay the same from one
    run of the tests to the next. The runs end after the first one in which
    nothing was killed: the command went through all of its renames. The
    strace logs go to `folder`."""
    for run in range(limit):
        n = 1 + run * every
        kill = RenameKill(n, os.path.join(folder, "renames-%d.log" % n), follow, fail_exchange)
        yield kill
        if not kill.killed():
            return
    raise Failure("the command was still killed after %d runs" % limit)
