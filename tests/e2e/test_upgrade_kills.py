"""The launcher's upgrade killed at each of its renames, with the folder
exchange taken away so the upgrader moves the old root aside and the new
one in with two renames. The installed launcher (packaging/quillon.in) runs
under strace (harness.kill_at_every_rename), which makes every exchange
fail and kills each process at its n-th rename, for every n up to a run
without a kill. After each
kill the user's favourites are still on disk, and the next start (without
strace) finds them in the upgraded root, with nothing left beside it."""

import os
import re
import shutil
import subprocess

import harness
from harness import check, read, write

OLD, NEW = "0.0.1", "9.9.0"
FAVOURITES = {
    "2/1.txt": "10000\nMy first favourite\n",
    "2/2.txt": "10001\nMy second favourite\n",
    "2/1.Quillon": "\xff\xd8 first thumbnail",
    "2/2.Quillon": "\xff\xd8 second thumbnail",
    "n/d.txt": "2",
    "n/b.txt": "7",
}


def make_root(folder, version, files):
    for relative, text in files.items():
        write(folder, "VESTRALUME/" + relative, text)
    write(folder, "VESTRALUME/version.txt", version + "\n")


def install(args, prefix):
    """The launcher, a stand-in program that notes its start, the real
    upgrader and a template of the newer version, laid out as installed."""
    with open(os.path.join(args.source, "packaging", "quillon.in"), encoding="utf-8") as f:
        text = f.read()
    values = {
        "QUILLON_PROGRAM_DIR_FROM_BIN": "../libexec/quillon",
        "QUILLON_TEMPLATE_FROM_BIN": "../share/quillon/VESTRALUME",
        "QUILLON_PROGRAM_DIR_FALLBACK": os.path.join(prefix, "libexec/quillon"),
        "QUILLON_TEMPLATE_FALLBACK": os.path.join(prefix, "share/quillon/VESTRALUME"),
    }
    text = re.sub(r"@([A-Z_]+)@", lambda m: values[m.group(1)], text)
    launcher = os.path.join(prefix, "bin", "quillon")
    write(prefix, "bin/quillon", text)
    write(prefix, "libexec/quillon/quillon", '#!/bin/sh\necho started >> "$HOME/starts"\n')
    for path in (launcher, os.path.join(prefix, "libexec/quillon/quillon")):
        os.chmod(path, 0o755)
    os.symlink(os.path.join(args.build, "tools", "quillon-upgrade-root"),
               os.path.join(prefix, "libexec/quillon/quillon-upgrade-root"))
    make_root(os.path.join(prefix, "share/quillon"), NEW,
              {"n/w.txt": "the newer model\n", "n/d.txt": "0", "n/b.txt": "1",
               "links.tsv": "1\thttps://one.example/\n", "1/1.txt": "1\nOne\n"})
    return launcher


def start(launcher, home, tracer=()):
    env = dict(os.environ, HOME=home, XDG_DATA_HOME=os.path.join(home, "data"),
               ASAN_OPTIONS="detect_leaks=0")
    return subprocess.run(list(tracer) + [launcher], env=env, capture_output=True, text=True,
                          timeout=60)


def favourites_in(root):
    return all(os.path.isfile(os.path.join(root, relative)) and read(root, relative) == text
               for relative, text in FAVOURITES.items())


def test(args, server, folder):
    del server
    if not harness.skip_unless_traceable():
        return
    launcher = install(args, os.path.join(folder, "prefix"))
    kills = 0
    for kill in harness.kill_at_every_rename(folder, follow=True, fail_exchange=True):
        kill_at = kill.n
        home = os.path.join(folder, "home-%d" % kill_at)
        user = os.path.join(home, "data", "quillon")
        make_root(user, OLD, dict(FAVOURITES, **{"n/w.txt": "the older model\n",
                                                 "links.tsv": "10000\thttps://s.example/a\tmedia\n"}))
        start(launcher, home, kill.tracer)
        # Killed or not, the favourites are on disk: in the root or in the
        # old root moved aside.
        check(favourites_in(os.path.join(user, "VESTRALUME"))
              or favourites_in(os.path.join(user, ".VESTRALUME.retired")),
              "kill at rename %d: the favourites are nowhere: %s" % (kill_at, os.listdir(user)))
        if not kill.killed():
            break
        kills += 1
        result = start(launcher, home)
        root = os.path.join(user, "VESTRALUME")
        check(result.returncode == 0, "kill at rename %d: the next start failed:\n%s"
              % (kill_at, result.stderr))
        check(favourites_in(root), "kill at rename %d: the next start lost the favourites" % kill_at)
        check(read(root, "version.txt") == NEW + "\n" and read(root, "n/w.txt") == "the newer model\n",
              "kill at rename %d: the root was not upgraded" % kill_at)
        check(read(root, "links.tsv").endswith("10000\thttps://s.example/a\tmedia\n"),
              "kill at rename %d: the imported directory entry is gone" % kill_at)
        check(sorted(os.listdir(user)) == ["VESTRALUME"],
              "kill at rename %d: left beside the root: %s" % (kill_at, os.listdir(user)))
        check(os.path.isfile(os.path.join(home, "starts")),
              "kill at rename %d: the program was not started" % kill_at)
        shutil.rmtree(home)
    # The upgrade's own renames were each killed once: the root moved aside
    # and the new root moved in (and a recovery's rename after them).
    check(kills >= 2, "only %d renames were killed" % kills)
    print("killed at %d renames, favourites kept every time" % kills)


if __name__ == "__main__":
    harness.main(test)
