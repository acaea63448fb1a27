"""Broken data roots: damaged state files, over-long paths, missing and
damaged thumbnails, a read-only root, pages beyond the catalogue. The program
keeps running through a user's keys and ends with status 0 on Esc, and no
state file is left worse than it was; a missing or damaged start-up asset
ends it at once with a clear message and a non-zero status."""

import glob
import os
import subprocess

import harness
from harness import check
from test_evening import make_recorder

STATE = "VESTRALUME/n/"
INTEGER_FILES = ["b.txt", "nn.txt", "1c.txt", "2c.txt", "h.txt", "d.txt", "hl.txt"]
PATH_FILES = (["n%d.txt" % k for k in range(1, 17)] + ["n%db.txt" % k for k in range(1, 17)] +
              ["dd.txt", "npi.txt", "npt.txt", "nppi.txt", "nppt.txt"])
PAGE_FILES = ["z1.txt", "z2.txt"]
ALL_STATE = INTEGER_FILES + PATH_FILES + PAGE_FILES + ["u.txt"]
KEYS = ["Down", "Down", "Down", "Right", "Next", "Prior", "Left", "Up", "F1", "F2", "Return",
        "a", "BackSpace", "Next", "Delete", "Delete", "BackSpace", "Return", "F12"]


def fill(folder, names, text):
    for name in names:
        harness.write(folder, STATE + name, text)


def page(first, step=1):
    return "\n".join(str(first + i * step) for i in range(16))


# Cases in which the program must keep running: (name, how the root is broken).
RUNNING = [
    ("every state file empty", lambda f: fill(f, ALL_STATE, "")),
    ("every state file non-numeric", lambda f: fill(f, ALL_STATE, "x?!")),
    ("huge values", lambda f: (fill(f, INTEGER_FILES, "99999999999999999999"),
                               fill(f, ["u.txt"], "1e39"),
                               fill(f, PAGE_FILES, page(2147483640)),
                               fill(f, ["d.txt"], "2147483647"))),
    ("negative values", lambda f: (fill(f, INTEGER_FILES, "-5"), fill(f, ["u.txt"], "-1.5"),
                                   fill(f, PAGE_FILES, page(-40)))),
    ("10 KB paths", lambda f: fill(f, PATH_FILES, "VESTRALUME/" + "a/" * 5000)),
    ("missing thumbnails", lambda f: [os.remove(p) for p in
                                      glob.glob(os.path.join(f, "VESTRALUME/1/1*.Quillon")) +
                                      glob.glob(os.path.join(f, "VESTRALUME/2/*.Quillon"))]),
    ("damaged thumbnails", lambda f: [harness.write(f, "VESTRALUME/%d/%d.Quillon" % (lst, n),
                                                    "\xff\xd8\xff\xe0 not really")
                                      for lst in (1, 2) for n in range(1, 41)]),
    ("pages beyond the catalogue", lambda f: (fill(f, ["z1.txt"], page(3001)),
                                              fill(f, ["z2.txt"], page(9000, 4)))),
    ("no URL directory", lambda f: os.remove(os.path.join(f, "VESTRALUME/links.tsv"))),
    ("missing link files", lambda f: [os.remove(p) for p in
                                      glob.glob(os.path.join(f, "VESTRALUME/1/*.txt"))]),
]

# Cases in which start-up must end: (name, how, the file the message names).
ENDING = [
    ("a missing placeholder image", lambda f: os.remove(os.path.join(f, "VESTRALUME/i/7.jpg")),
     "VESTRALUME/i/7.jpg"),
    ("a damaged selection image", lambda f: harness.write(f, "VESTRALUME/t/b.jpg", "garbage"),
     "VESTRALUME/t/b.jpg"),
    ("a missing tile model", lambda f: os.remove(os.path.join(f, STATE + "rp.txt")),
     "VESTRALUME/n/rp.txt"),
    ("a missing selection model", lambda f: os.remove(os.path.join(f, STATE + "mp.txt")),
     "VESTRALUME/n/mp.txt"),
    ("no data root at all", lambda f: subprocess.run(["rm", "-rf",
                                                      os.path.join(f, "VESTRALUME")], check=True),
     "VESTRALUME/"),
]


def holds_its_kind(name, data):
    """Whether a state file's bytes are a value of its kind."""
    text = data.decode("latin-1")
    try:
        if name in INTEGER_FILES:
            int(text.split()[0])
        elif name == "u.txt":
            float(text.split()[0])
        elif name in PAGE_FILES:
            return len([int(v) for v in text.split()[:16]]) == 16
        elif name in PATH_FILES:
            return 0 < len(text) <= 1023 and all(32 <= ord(c) < 127 for c in text)
        return True
    except (ValueError, IndexError):
        return False


def damaged(before, after):
    """State files the run changed into something that is not a value of
    their kind: the run must never leave any."""
    return sorted(name for name, data in after.items()
                  if before.get(name) != data and not holds_its_kind(name, data))


def run_keys(app):
    for key in KEYS:
        app.key(key, delay_ms=30)
    harness.wait_settled(app.folder, quiet=1.5)


def finish(app, name):
    check(app.alive(), "%s: the program ended:\n%s" % (name, app.output()[-3000:]))
    app.key("Escape")
    status = app.wait_exit(60)
    output = app.output()
    check(status == 0, "%s: Esc gave status %s:\n%s" % (name, status, output[-3000:]))
    reports = harness.sanitizer_reports(output)
    check(not reports, "%s: sanitizer reports:\n%s" % (name, "\n".join(reports)))


def test(args, server, folder):
    tried = 0
    for name, breaks in RUNNING:
        case = os.path.join(folder, "case%d" % tried)
        os.makedirs(case)
        harness.make_sample_root(args, case)
        stub_dir, _ = make_recorder(case)
        breaks(case)
        before = harness.state_snapshot(case)
        app = harness.Quillon(server, args.quillon, case, {"PATH": stub_dir + ":" + os.environ["PATH"]})
        try:
            run_keys(app)
            finish(app, name)
        finally:
            app.stop()
        bad = damaged(before, harness.state_snapshot(case))
        check(not bad, "%s: the run left damaged state files: %s" % (name, bad))
        print("kept running:", name)
        subprocess.run(["rm", "-rf", case])
        tried += 1

    # A read-only root: nothing can be written, nothing changes, nothing fails.
    case = os.path.join(folder, "readonly")
    os.makedirs(case)
    harness.make_sample_root(args, case)
    snapshot = harness.state_snapshot(case)
    subprocess.run(["chmod", "-R", "a-w,a+rX", case], check=True)
    os.chmod(folder, 0o755)
    as_user = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"] \
        if os.geteuid() == 0 else []
    app = harness.Quillon(server, args.quillon, case, launcher=as_user,
                          log_path=os.path.join(folder, "readonly.log"))
    try:
        run_keys(app)
        finish(app, "a read-only root")
    finally:
        app.stop()
    check(harness.state_snapshot(case) == snapshot, "a read-only root changed")
    print("kept running: a read-only root")
    subprocess.run(["chmod", "-R", "u+w", case])
    tried += 1

    for name, breaks, named in ENDING:
        case = os.path.join(folder, "case%d" % tried)
        os.makedirs(case)
        harness.make_sample_root(args, case)
        breaks(case)
        result = subprocess.run([args.quillon], cwd=case, env=server.env(), capture_output=True,
                                text=True, errors="replace", timeout=120)
        check(result.returncode != 0, "%s: start-up did not fail" % name)
        check(named in result.stdout + result.stderr and "Quillon cannot start" in result.stderr,
              "%s: no clear message naming %s:\n%s%s" % (name, named, result.stdout[-1500:],
                                                         result.stderr[-1500:]))
        check(not harness.sanitizer_reports(result.stderr), "%s: sanitizer report" % name)
        print("ended with status %d: %s" % (result.returncode, name))
        subprocess.run(["rm", "-rf", case])
        tried += 1
    print("%d broken roots tried" % tried)


if __name__ == "__main__":
    harness.main(test)
