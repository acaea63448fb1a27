"""A data root from anywhere, with the real program: a FIFO or a link to
/dev/zero in each place the program reads (thumbnails at start-up and on
Page Down, the selected tile, models, the URL directory, a link file, tile
paths, an image of the F12 batch copy), and a page of four 8192 x 8192 JPEGs.
In every case the wall keeps answering keys within a second and its memory
stays within 64 MiB of a run on the sound root; the checker finishes on the
root and names what is wrong. Temporary files that killed runs left behind
are removed at start."""

import os
import struct
import subprocess
import threading
import time

import harness
from harness import check, read, wait_until
from test_evening import make_recorder, opened_lines
from test_wall import page_colours_shown

ANSWER_SECONDS = 1.0
MEMORY_MARGIN = 64 << 20


class MemoryWatch(threading.Thread):
    """Follows the program's resident memory; past `limit` it stops the
    program at once, so an endless read cannot take the machine's memory."""

    def __init__(self, app, limit):
        super().__init__(daemon=True)
        self.app, self.limit, self.peak, self.running = app, limit, 0, True
        self.start()

    def run(self):
        while self.running and self.app.alive():
            self.peak = max(self.peak, self.app.resident_bytes())
            if self.limit and self.peak > self.limit:
                self.app.process.kill()
                return
            time.sleep(0.02)

    def stop(self):
        self.running = False
        self.join()
        return self.peak


def answers_keys(app, folder, what):
    """F2 grows the wall scale in u.txt: it must change there within a
    second of the key. F1 then takes it back."""
    before = read(folder, "VESTRALUME/n/u.txt")
    app.server.run("xdotool", "windowfocus", "--sync", app.window, check_status=False)
    sent = time.monotonic()
    app.server.run("xdotool", "key", "F2")
    wait_until(lambda: read(folder, "VESTRALUME/n/u.txt") != before, ANSWER_SECONDS, 0.01,
               "%s: the wall to answer F2 within a second" % what)
    answered = time.monotonic() - sent
    after = read(folder, "VESTRALUME/n/u.txt")
    app.key("F1", delay_ms=0)
    wait_until(lambda: read(folder, "VESTRALUME/n/u.txt") != after, 10, 0.01, what + ": F1")
    return answered


def giant_jpeg(side):
    """A valid grey baseline JPEG of side x side pixels, all mid-grey: every
    8 x 8 block is a zero DC difference and an end of block, so the file is
    a few hundred KB however large the picture."""
    def segment(marker, body):
        return b"\xff" + bytes([marker]) + struct.pack(">H", len(body) + 2) + body
    dc_bits = [0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0]  # the standard luminance tables
    ac_bits = [0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d]
    ac_values = bytes.fromhex(
        "01020300041105122131410613516107227114328191a1082342b1c11552d1f02433627282090a161718191a"
        "25262728292a3435363738393a434445464748494a535455565758595a636465666768696a73747576777879"
        "7a838485868788898a92939495969798999aa2a3a4a5a6a7a8a9aab2b3b4b5b6b7b8b9bac2c3c4c5c6c7c8c9"
        "cad2d3d4d5d6d7d8d9dae1e2e3e4e5e6e7e8e9eaf1f2f3f4f5f6f7f8f9fa")
    header = (b"\xff\xd8" + segment(0xDB, b"\x00" + b"\x01" * 64)
              + segment(0xC0, b"\x08" + struct.pack(">HH", side, side) + b"\x01\x01\x11\x00")
              + segment(0xC4, b"\x00" + bytes(dc_bits) + bytes(range(12)))
              + segment(0xC4, b"\x10" + bytes(ac_bits) + ac_values)
              + segment(0xDA, b"\x01\x01\x00\x00\x3f\x00"))
    # DC category 0 is "00", end of block "1010": 6 bits a block, 4 blocks
    # in 3 bytes.
    blocks = (side // 8) * (side // 8)
    return header + b"\x28\xa2\x8a" * (blocks // 4) + b"\xff\xd9"


def directory_address(folder, link):
    for line in read(folder, "VESTRALUME/links.tsv").splitlines():
        fields = line.split("\t")
        if fields[0] == str(link):
            return fields[1]
    raise harness.Failure("no address for link %d" % link)


def fill_batch_images(folder, fifo_at=None):
    for k in range(1, 9):
        path = os.path.join(folder, "%d.jpg" % k)
        if k == fifo_at:
            os.mkfifo(path)
        else:
            with open(path, "wb") as f:
                f.write(b"image %d" % k)


# Runs of the program, each with the cases met at one moment: (name, the
# files broken as [(path, "fifo" or "zero")], state files written first,
# keys pressed, what the checker must say).
RUNS = [
    ("at start-up: a FIFO thumbnail, a FIFO selected tile, a FIFO and a /dev/zero model, tile "
     "paths naming a FIFO and /dev/zero",
     [("VESTRALUME/1/1.Quillon", "fifo"), ("VESTRALUME/n/b.txt", "fifo"),
      ("VESTRALUME/n/w.txt", "fifo"), ("VESTRALUME/n/r.txt", "zero"),
      ("VESTRALUME/1/x.Quillon", "fifo")],
     {"VESTRALUME/n/n2.txt": "VESTRALUME/1/x.Quillon", "VESTRALUME/n/n3.txt": "/dev/zero"},
     ["Right"],
     ["thumbnails of channel numbers 1 cannot be read", "VESTRALUME/n/b.txt is not a regular file",
      "VESTRALUME/n/w.txt is not a regular file", "VESTRALUME/n/r.txt leads out of its folder",
      "names VESTRALUME/1/x.Quillon, which is not a regular file",
      "names /dev/zero, a path outside the data root"]),
    ("on Page Down: a FIFO and a /dev/zero thumbnail",
     [("VESTRALUME/1/17.Quillon", "fifo"), ("VESTRALUME/1/18.Quillon", "zero")], {}, ["Next"],
     ["thumbnails of channel numbers 17 to 18 cannot be read"]),
    ("on Enter: a FIFO link file", [("VESTRALUME/1/1.txt", "fifo")],
     {"VESTRALUME/n/hl.txt": "5"}, ["Return"], ["link files of channel numbers 1 cannot be read"]),
    ("on Enter: a FIFO URL directory", [("VESTRALUME/links.tsv", "fifo")], {}, ["Return"],
     ["VESTRALUME/links.tsv is not a regular file"]),
    ("on Enter: a /dev/zero URL directory", [("VESTRALUME/links.tsv", "zero")], {}, ["Return"],
     ["VESTRALUME/links.tsv is not a regular file"]),
    ("on F12: a FIFO as 5.jpg", [], {}, ["F12"], []),
]


def break_root(folder, files, state):
    for relative, kind in files:
        path = os.path.join(folder, relative)
        if os.path.lexists(path):
            os.remove(path)
        if kind == "fifo":
            os.mkfifo(path)
        else:
            os.symlink("/dev/zero", path)
    for relative, text in state.items():
        harness.write(folder, relative, text)


def run_case(args, server, folder, name, breaks, keys, memory_limit):
    """Runs the program on the root in `folder` broken by `breaks`, sends
    `keys`, and checks that it answers F2 within a second. Returns the
    program's peak resident memory."""
    stub_dir, log = make_recorder(folder)
    if breaks:
        breaks(folder)
    app = harness.Quillon(server, args.quillon, folder,
                          {"PATH": stub_dir + ":" + os.environ["PATH"]}, start_timeout=20)
    watch = MemoryWatch(app, memory_limit)
    try:
        time.sleep(0.5)  # the first thumbnail refresh, one tile a frame
        for key in keys:
            app.key(key)
            time.sleep(0.3)
            if key == "F12":
                wait_until(lambda: os.path.exists(os.path.join(folder, "n.txt")) and
                           read(folder, "n.txt") == "2000", 30, 0.05, name + ": the batch copy")
        seconds = answers_keys(app, folder, name)
        peak = watch.stop()
        check(app.alive(), "%s: the program ended:\n%s" % (name, app.output()[-2000:]))
        app.key("Escape")
        check(app.wait_exit(30) == 0, "%s: Esc did not end the program with status 0" % name)
        output = app.output()
    finally:
        watch.stop()
        app.stop()
    reports = harness.sanitizer_reports(output)
    check(not reports, "%s: sanitizer reports:\n%s" % (name, "\n".join(reports)))
    print("%s: F2 answered in %.0f ms, peak memory %.0f MiB" % (name, seconds * 1000, peak / 2**20))
    return peak, log


def run_checker_promptly(args, folder, name):
    tool = os.path.join(args.build, "tools", "quillon-check-data")
    try:
        result = subprocess.run([tool, folder], capture_output=True, text=True, timeout=60)
    except subprocess.TimeoutExpired:
        raise harness.Failure("%s: the checker did not finish within a minute" % name)
    return result.returncode == 0, result.stdout


def test_special_files(args, server, folder):
    baseline_folder = os.path.join(folder, "sound")
    os.makedirs(baseline_folder)
    harness.make_sample_root(args, baseline_folder)
    fill_batch_images(baseline_folder)
    normal, _ = run_case(args, server, baseline_folder, "the sound root", None,
                         ["Next", "Return", "F12"], 0)
    limit = normal + MEMORY_MARGIN
    subprocess.run(["rm", "-rf", baseline_folder], check=True)

    for number, (name, files, state, keys, checker_says) in enumerate(RUNS):
        case = os.path.join(folder, "case%d" % number)
        os.makedirs(case)
        harness.make_sample_root(args, case)
        if "F12" in keys:
            fill_batch_images(case, fifo_at=5)
        peak, log = run_case(args, server, case, name,
                             lambda f: break_root(f, files, state), keys, limit)
        check(peak <= limit, "%s: peak memory %d MiB, normal %d MiB"
              % (name, peak >> 20, normal >> 20))
        if name == "on Enter: a FIFO link file":
            # As with a missing link file, the channel opened before opens again.
            opened = [line.split("\t")[1] for line in opened_lines(log)]
            check(directory_address(case, 5) in opened, "%s: opened %s" % (name, opened))
            check(read(case, "VESTRALUME/n/hl.txt") == "5", name + ": hl.txt changed")
        if "F12" in keys:
            check(not os.path.exists(os.path.join(case, "5.Quillon")), name + ": 5.Quillon made")
            for k in (4, 6, 8):
                check(read(case, "%d.Quillon" % k) == "image %d" % k, "%s: %d.Quillon" % (name, k))
        sound, report = run_checker_promptly(args, case, name)
        for words in checker_says:
            check(not sound and words in report,
                  "%s: the checker should say \"%s\":\n%s" % (name, words, report))
        subprocess.run(["rm", "-rf", case], check=True)


def test_giant_page(args, server, folder):
    """Four valid 8192 x 8192 JPEGs come onto the wall with one Page Down:
    they show their placeholders and the wall goes on at once."""
    case = os.path.join(folder, "giant")
    os.makedirs(case)
    harness.make_fixture_root(args, case, channels=range(1, 41), favourites=())
    scale = float(read(case, "VESTRALUME/n/u.txt"))
    giant = giant_jpeg(8192)
    for channel in range(17, 21):
        with open(os.path.join(case, "VESTRALUME/1/%d.Quillon" % channel), "wb") as f:
            f.write(giant)
    normal_page = "\n".join(str(1 + i) for i in range(16))
    harness.write(case, "VESTRALUME/n/z1.txt", normal_page)
    app = harness.Quillon(server, args.quillon, case)
    watch = MemoryWatch(app, 0)
    try:
        wait_until(lambda: not page_colours_shown(app, scale, 1), 40, 0.3, "the first page")
        normal = app.resident_bytes()
        watch.limit = normal + MEMORY_MARGIN
        app.key("Next", delay_ms=0)
        wait_until(lambda: read(case, "VESTRALUME/n/z1.txt").startswith("5\n"), 10, 0.01,
                   "the page file to move on")
        seconds = answers_keys(app, case, "the giant page")
        peak = watch.stop()
        check(peak <= normal + MEMORY_MARGIN, "the giant page: peak memory %d MiB, normal %d MiB"
              % (peak >> 20, normal >> 20))
        wrong = []

        def only_giants_wrong():
            wrong[:] = page_colours_shown(app, scale, 5)
            return [tile for tile, _, _ in wrong] == [13, 14, 15, 16]
        wait_until(only_giants_wrong, 20, 0.3, "channels 5 to 16 on tiles 1 to 12")
        app.screenshot(os.path.join(folder, "giant-page.png"))
        for tile, seen, _ in wrong:
            check(not harness.close_colour(seen, (128, 128, 128), 12),
                  "tile %d shows the grey giant image" % tile)
        print("giant page: F2 answered in %.0f ms after Page Down, peak memory %.0f MiB "
              "(normal %.0f MiB)" % (seconds * 1000, peak / 2**20, normal / 2**20))
        app.key("Escape")
        check(app.wait_exit(30) == 0, "Esc after the giant page")
    finally:
        watch.stop()
        app.stop()
    sound, report = run_checker_promptly(args, case, "the giant page")
    check(not sound and "thumbnails of channel numbers 17 to 20 are larger than 4096 x 4096"
          in report, "the checker on the giant page:\n" + report)


def test_stale_temporary_files(args, server, folder):
    """Temporary files of killed runs go at start: in the state folder, the
    favourites and the batch copy's own files; others stay."""
    case = os.path.join(folder, "stale")
    os.makedirs(case)
    harness.make_sample_root(args, case)
    ended = subprocess.Popen(["true"])
    ended.wait()
    dead, alive = ended.pid, os.getpid()
    removed = ["VESTRALUME/n/.d.txt.%d.tmp" % dead, "VESTRALUME/2/.7.Quillon.%d.tmp" % dead,
               ".5.Quillon.%d.tmp" % dead, ".n.txt.%d.tmp" % dead]
    kept = ["VESTRALUME/n/.d.txt.%d.tmp" % alive, ".notes.txt.%d.tmp" % dead,
            ".5.jpg.%d.tmp" % dead, "VESTRALUME/1/.5.Quillon.%d.tmp" % dead]
    for name in removed + kept:
        harness.write(case, name, "left by a killed run")
    app = harness.Quillon(server, args.quillon, case)
    try:
        for name in removed:
            check(not os.path.exists(os.path.join(case, name)), name + " was not removed")
        for name in kept:
            check(os.path.exists(os.path.join(case, name)), name + " was removed")
    finally:
        app.stop()


def test(args, server, folder):
    test_stale_temporary_files(args, server, folder)
    test_giant_page(args, server, folder)
    test_special_files(args, server, folder)


if __name__ == "__main__":
    harness.main(test)
