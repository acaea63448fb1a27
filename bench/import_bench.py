#!/usr/bin/env python3
"""Importing a playlist of 100,000 entries with the real quillon-import, each
step in a fresh process whose time and peak resident memory are measured
(wait4), beside yardsticks measured in the same run on the same files:

- reading the playlist (--list-groups streams it through the parser and
  counts the groups) against `wc -l` of the same file;
- the whole import into a fresh sample root (parse, link numbers, link
  files, cards, the switch);
- the index of the names the import makes (quillon-bench-find, the
  importer's own code on the same playlist) as a share of the first import;
- the import of the same playlist again (nothing changes) against the first;
  the first import of the first round draws every card (an empty card
  cache), those of later rounds take the cards from the cache; the import
  again is compared with both.

The entries have no logos, so the figures are the importer's own; fetching
and drawing logos is the card maker's. Everything lives in /dev/shm."""

import argparse
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

SCRIPTS = ["Latin", "\u041a\u0438\u0440\u0438\u043b\u043b\u0438\u0446\u0430", "\u4e2d\u6587\u53f0",
           "\u0642\u0646\u0627\u0629", "\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac"]


def make_playlist(path, count):
    rng = random.Random(1)
    with open(path, "w", encoding="utf-8") as out:
        out.write('#EXTM3U x-tvg-url="http://epg.example/guide.xml.gz"\n')
        for n in range(1, count + 1):
            name = "%s %s %d" % (rng.choice(SCRIPTS), rng.choice(["News", "Sport", "Kids"]), n)
            out.write('#EXTINF:-1 tvg-id="ch%d.example" tvg-name="%s" group-title="Group %d",%s\n'
                      % (n, name, n % 40, name))
            if n % 10 == 0:
                out.write("#EXTVLCOPT:http-user-agent=Mozilla/5.0\n")
            out.write("http://stream%d.example.net:8080/live/user/pass/%d.ts\n" % (n % 97, n))


def measure(command, env=None):
    """Runs a command; returns (seconds, peak resident MiB, processor seconds)."""
    started = time.perf_counter()
    process = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.PIPE)
    _, status, usage = os.wait4(process.pid, 0)
    seconds = time.perf_counter() - started
    errors = process.stderr.read().decode("utf-8", "replace")
    process.stderr.close()
    code = os.waitstatus_to_exitcode(status)
    if code != 0:
        sys.exit("%s failed (%d): %s" % (" ".join(command), code, errors[-2000:]))
    return seconds, usage.ru_maxrss / 1024.0, usage.ru_utime + usage.ru_stime


def median_of(runs, command, env=None):
    results = sorted(measure(command, env) for _ in range(runs))
    return results[len(results) // 2]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True, help="build folder with tools/quillon-import")
    parser.add_argument("--entries", type=int, default=100000)
    parser.add_argument("--quick", action="store_true", help="one repetition instead of three")
    args = parser.parse_args()
    tools = os.path.join(os.path.abspath(args.build), "tools")
    importer = os.path.join(tools, "quillon-import")
    runs = 1 if args.quick else 3

    base = "/dev/shm" if os.access("/dev/shm", os.W_OK) else None
    work = tempfile.mkdtemp(prefix="quillon-import-bench-", dir=base)
    try:
        playlist = os.path.join(work, "channels.m3u")
        make_playlist(playlist, args.entries)
        size = os.path.getsize(playlist) / 1048576.0
        sample = os.path.join(work, "sample")
        subprocess.run([os.path.join(tools, "quillon-make-data"), sample], check=True,
                       stdout=subprocess.DEVNULL)
        env = dict(os.environ, XDG_CACHE_HOME=os.path.join(work, "cache"))

        wc = median_of(runs, ["wc", "-l", playlist])
        parse = median_of(runs, [importer, "--list-groups", playlist], env)

        first, again = [], []
        for run in range(runs):
            root = os.path.join(work, "root%d" % run)
            shutil.copytree(sample, root, symlinks=True)
            # --wait: every card made before the switch, so the import again
            # compares with a complete catalogue (bench/fast_import_bench.py
            # measures the import that leaves its cards to the background).
            first.append(measure([importer, "--root", root, "--wait", playlist], env))
            again.append(measure([importer, "--root", root, playlist], env))
            shutil.rmtree(root)
        cold = first[0]
        # The index of the names, made by the importer's own code on the
        # same playlist (quillon-bench-find, when built beside it).
        index_seconds = None
        bench_find = os.path.join(os.path.abspath(args.build), "bench", "quillon-bench-find")
        if os.access(bench_find, os.X_OK):
            out = subprocess.run([bench_find, "--playlist", playlist, "--runs", str(runs)],
                                 check=True, capture_output=True, text=True).stdout
            index_seconds = float(out.split("index-seconds")[1].split()[0])
            index_processor = float(out.split("index-processor-seconds")[1].split()[0])
        first.sort()
        again.sort()
        first, again = first[len(first) // 2], again[len(again) // 2]

        print("\nPlaylist import, %s entries (%.1f MiB), Release build, /dev/shm"
              % (format(args.entries, ","), size))
        print("%-44s %-16s %-34s %s" % ("figure", "measured", "limit (same run, same files)",
                                       "ratio"))
        print("-" * 104)
        print("%-44s %-16s %-34s %.2f" % ("reading it: --list-groups", "%.2f s" % parse[0],
                                         "wc -l: %.3f s" % wc[0], parse[0] / max(wc[0], 1e-6)))
        print("%-44s %-16s %-34s %s" % ("  peak memory", "%.0f MiB" % parse[1], "<= 300 MiB",
                                       "ok" if parse[1] <= 300 else "MISSED"))
        print("%-44s %-16s %-34s %s" % ("first import, every card drawn", "%.2f s" % cold[0],
                                       "", ""))
        print("%-44s %-16s %-34s %s" % ("first import into a sample root (median)",
                                       "%.2f s" % first[0], "", ""))
        print("%-44s %-16s %-34s %s" % ("  processor time", "%.2f s" % first[2], "", ""))
        if index_seconds is not None:
            share = index_seconds / first[0]
            print("%-44s %-16s %-34s %.3f  %s" % ("  of which the index of names (ICU)",
                                                 "%.2f s" % index_seconds,
                                                 "the import: %.2f s" % first[0], share,
                                                 "<= 0.10 " + ("ok" if share <= 0.1 else "MISSED")))
            share = index_processor / first[2]
            print("%-44s %-16s %-34s %.3f  %s" % ("    its processor time",
                                                 "%.2f s" % index_processor,
                                                 "the import's: %.2f s" % first[2], share,
                                                 "<= 0.10 " + ("ok" if share <= 0.1 else "MISSED")))
        print("%-44s %-16s %-34s %s" % ("  peak memory", "%.0f MiB" % first[1], "<= 300 MiB",
                                       "ok" if first[1] <= 300 else "MISSED"))
        verdict = lambda ratio: "<= 0.10 " + ("ok" if ratio <= 0.1 else "MISSED")
        print("%-44s %-16s %-34s %.2f  %s" % ("the same playlist again (nothing changes)",
                                             "%.2f s" % again[0], "first import: %.2f s" % cold[0],
                                             again[0] / cold[0], verdict(again[0] / cold[0])))
        print("%-44s %-16s %-34s %.2f  %s" % ("", "", "cards from the cache: %.2f s" % first[0],
                                             again[0] / first[0], verdict(again[0] / first[0])))
        print("%-44s %-16s %-34s %.2f" % ("  processor time", "%.2f s" % again[2],
                                         "cards from the cache: %.2f s" % first[2],
                                         again[2] / first[2]))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
