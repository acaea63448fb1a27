#!/usr/bin/env python3
"""The wall following imports that run beside it: the Release program runs
in a private Xvfb on a catalogue of 2,000 channels while two playlists of
2,000 channels each are imported in turn beside it (every card from the card
cache after the first round). For each import:

- the import's own time, as quillon-import takes it (the yardstick);
- the time from the import's return to the program having followed: its
  first tile path file (VESTRALUME/n/n1.txt) written anew by the page it
  builds from the new catalogue; the goal is within 1 s;
- the ratio of the two.

Then the wall at rest with nothing imported, for 10 s: processor time per
second of the program (the look at the count record every 200 ms and at
VESTRALUME/sources.tsv every 5 s must not show).

Everything lives in /dev/shm."""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
import harness  # noqa: E402


def playlist(prefix, count):
    lines = ["#EXTM3U"]
    for n in range(1, count + 1):
        lines.append('#EXTINF:-1 group-title="G%d",%s %d' % (n % 9, prefix, n))
        lines.append("http://%s.example/live/%d.m3u8" % (prefix, n))
    return "\n".join(lines) + "\n"


def processor_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def stamp(path):
    info = os.stat(path)
    return (info.st_ino, info.st_mtime_ns)


def rest_cores(app, seconds):
    before = processor_seconds(app.process.pid)
    time.sleep(seconds)
    return (processor_seconds(app.process.pid) - before) / seconds


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--rounds", type=int, default=6)
    parser.add_argument("--channels", type=int, default=2000)
    args = parser.parse_args()
    importer = os.path.join(args.build, "tools", "quillon-import")
    work = tempfile.mkdtemp(prefix="quillon-follow-bench-", dir="/dev/shm")
    server = harness.XServer()
    app = None
    try:
        harness.make_sample_root(argparse.Namespace(build=args.build), work)
        cache = os.path.join(work, "cache")
        env = dict(os.environ, XDG_CACHE_HOME=cache)
        paths = []
        for prefix in ("alpha", "beta"):
            path = os.path.join(work, prefix + ".m3u")
            with open(path, "w") as f:
                f.write(playlist(prefix, args.channels))
            paths.append(path)
        # Every card once, so the rounds measure switching, not drawing.
        for path in paths + paths[:1]:
            subprocess.run([importer, "--root", work, "--wait", path], env=env, check=True,
                           stdout=subprocess.DEVNULL)
        app = harness.Quillon(server, os.path.join(args.build, "quillon"), work)
        harness.wait_settled(work, quiet=1.5)
        tile = os.path.join(work, "VESTRALUME", "n", "n1.txt")
        imports, follows = [], []
        for round_number in range(args.rounds):
            path = paths[(round_number + 1) % 2]
            before = stamp(tile)
            started = time.perf_counter()
            subprocess.run([importer, "--root", work, "--wait", path], env=env, check=True,
                           stdout=subprocess.DEVNULL)
            returned = time.perf_counter()
            harness.wait_until(lambda: stamp(tile) != before, 10, 0.005, "the wall to follow")
            followed = time.perf_counter()
            imports.append(returned - started)
            follows.append(followed - returned)
            harness.wait_settled(work, quiet=0.5)
        still = rest_cores(app, 10)
        print("figure                                            measured          yardstick / goal")
        print("import of %d channels beside the wall, median   %6.0f ms" %
              (args.channels, statistics.median(imports) * 1000))
        print("import returned -> wall followed, median / max    %6.0f / %.0f ms   <= 1000 ms %s" %
              (statistics.median(follows) * 1000, max(follows) * 1000,
               "ok" if max(follows) <= 1.0 else "MISSED"))
        print("  ratio to the import's own time (median)         %6.2f" %
              (statistics.median(follows) / statistics.median(imports)))
        print("wall at rest, looking for a new catalogue         %6.4f cores       <= 0.01 %s" %
              (still, "ok" if still <= 0.01 else "MISSED"))
    finally:
        if app:
            app.stop()
        server.close()
        harness.stop_card_makers(work)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
