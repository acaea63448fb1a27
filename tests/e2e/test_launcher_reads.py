"""The launcher's reads of a hostile root. Before every start the installed
launcher (packaging/quillon.in) has the upgrader read the root's version
and its URL directory; each of those files is made, in turn, a FIFO with no
writer, a link to /dev/zero, a link to a file outside the root and a sparse
file of 3 GiB. Every start ends within its time with the program started,
its peak memory small, nothing outside the root written or copied in, and
the user's favourites kept."""

import os
import signal
import subprocess
import time

import harness
from harness import check
from test_upgrade_kills import FAVOURITES, OLD, favourites_in, install, make_root

# The root files the launcher's upgrade reads.
ROOT_FILES = ["version.txt", "links.tsv"]
OUTSIDE_TEXT = "10000\thttps://outside.example/secret\tmedia\n"
PEAK_LIMIT_KIB = 300 * 1024


def make_fifo(path, outside):
    os.mkfifo(path)


def link_to_zero(path, outside):
    os.symlink("/dev/zero", path)


def link_outside(path, outside):
    os.symlink(outside, path)


def huge(path, outside):
    with open(path, "wb") as f:
        f.truncate(3 << 30)


KINDS = [("a FIFO", make_fifo), ("a link to /dev/zero", link_to_zero),
         ("a link outside the root", link_outside), ("a file of 3 GiB", huge)]


def outside_state(folder):
    """Every file of the folder outside the root, with its bytes and time."""
    state = {}
    for name in sorted(os.listdir(folder)):
        path = os.path.join(folder, name)
        if os.path.isfile(path) and not os.path.islink(path):
            with open(path, "rb") as f:
                state[name] = (f.read(), os.stat(path).st_mtime_ns)
        else:
            state[name] = None
    return state


def root_holds(root, text):
    """Whether any regular file under the root holds `text`."""
    for folder, _, names in os.walk(root):
        for name in names:
            path = os.path.join(folder, name)
            if os.path.isfile(path) and not os.path.islink(path) and os.path.getsize(path) < (64 << 20):
                with open(path, "rb") as f:
                    if text.encode() in f.read():
                        return True
    return False


def start_measured(launcher, home):
    """Starts the launcher under /usr/bin/time: its messages, the seconds it
    took and the peak resident memory of the largest of its processes."""
    env = dict(os.environ, HOME=home, XDG_DATA_HOME=os.path.join(home, "data"),
               ASAN_OPTIONS="detect_leaks=0")
    report = os.path.join(home, "time.txt")
    began = time.monotonic()
    # A session of its own, so a start that hangs is ended whole.
    process = subprocess.Popen(["/usr/bin/time", "-v", "-o", report, launcher], env=env,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                               start_new_session=True)
    try:
        _, stderr = process.communicate(timeout=30)
    except subprocess.TimeoutExpired:
        os.killpg(process.pid, signal.SIGKILL)
        process.communicate()
        raise
    seconds = time.monotonic() - began
    peak = 0
    with open(report, encoding="utf-8") as f:
        for line in f:
            if "Maximum resident set size" in line:
                peak = int(line.rsplit(":", 1)[1])
    return stderr, seconds, peak


def test(args, server, folder):
    del server
    launcher = install(args, os.path.join(folder, "prefix"))
    outside_folder = os.path.join(folder, "outside")
    os.makedirs(outside_folder)
    outside = os.path.join(outside_folder, "secret.txt")
    with open(outside, "w", encoding="utf-8") as f:
        f.write(OUTSIDE_TEXT)
    before = outside_state(outside_folder)
    slowest, highest = 0.0, 0
    for relative in ROOT_FILES:
        for number, (kind, make) in enumerate(KINDS):
            what = "%s as %s" % (relative, kind)
            home = os.path.join(folder, "home-%s-%d" % (relative.replace(".", "-"), number))
            user = os.path.join(home, "data", "quillon")
            make_root(user, OLD, FAVOURITES)
            root = os.path.join(user, "VESTRALUME")
            target = os.path.join(root, relative)
            if os.path.lexists(target):
                os.remove(target)
            make(target, outside)
            try:
                stderr, seconds, peak = start_measured(launcher, home)
            except subprocess.TimeoutExpired:
                check(False, "%s: the start did not end within 30 s" % what)
            slowest, highest = max(slowest, seconds), max(highest, peak)
            check(os.path.isfile(os.path.join(home, "starts")),
                  "%s: the program was not started:\n%s" % (what, stderr))
            check(peak < PEAK_LIMIT_KIB, "%s: peak memory %d KiB" % (what, peak))
            check(len(stderr) < 4096, "%s: %d bytes of messages" % (what, len(stderr)))
            check(outside_state(outside_folder) == before, "%s: the folder outside was written" % what)
            check(sorted(os.listdir(home)) == ["data", "starts", "time.txt"],
                  "%s: written beside the data: %s" % (what, os.listdir(home)))
            check(sorted(os.listdir(user)) == ["VESTRALUME"],
                  "%s: left beside the root: %s" % (what, os.listdir(user)))
            live = os.path.join(user, "VESTRALUME")
            check(favourites_in(live), "%s: a favourite is gone or changed" % what)
            check(not root_holds(live, "outside.example/secret"),
                  "%s: the outside file's content reached the root" % what)
    print("%d starts: slowest %.2f s, peak memory %d MiB at most"
          % (len(ROOT_FILES) * len(KINDS), slowest, highest // 1024))


if __name__ == "__main__":
    harness.main(test)
