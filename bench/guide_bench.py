"""Reading and indexing a large programme guide, against xmllint reading the
same file and doing nothing else, each in a fresh process timed with its peak
resident memory; then now and next for pages of 16 channels.

    python3 bench/guide_bench.py --build build-bench [--channels 2000] [--days 7] [--quick]

The guide is generated streamed (programmes of 30 minutes with a
description, about 680 bytes each: 2,000 channels x 7 days is about 450 MB)
into a scratch folder under /var/tmp (not /dev/shm: it is large), plain and
gzipped, and removed at the end."""

import argparse
import os
import shutil
import statistics
import subprocess
import tempfile
import time


def timed(command):
    """(seconds, peak resident MiB, stdout) of one run in a fresh process."""
    start = time.monotonic()
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    _, status, usage = os.wait4(process.pid, 0)
    seconds = time.monotonic() - start
    out = process.stdout.read().decode("utf-8", "replace")
    process.stdout.close()
    process.returncode = os.waitstatus_to_exitcode(status)
    if process.returncode != 0:
        raise SystemExit("%s failed:\n%s" % (command[0], out))
    return seconds, usage.ru_maxrss / 1024.0, out


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--channels", type=int, default=2000)
    parser.add_argument("--days", type=int, default=7)
    parser.add_argument("--quick", action="store_true")
    args = parser.parse_args()
    tool = os.path.join(args.build, "bench", "quillon-bench-guide")
    xmllint = shutil.which("xmllint")
    rounds = 1 if args.quick else 3
    folder = tempfile.mkdtemp(prefix="quillon-guide-bench-", dir="/var/tmp")
    try:
        now = int(time.time())
        plain = os.path.join(folder, "guide.xml")
        zipped = os.path.join(folder, "guide.xml.gz")
        for path, extra in ((plain, []), (zipped, ["--gzip"])):
            subprocess.run([tool, "--generate", path, "--channels", str(args.channels), "--days",
                            str(args.days), "--now", str(now)] + extra, check=True)
        print("Programme guide: %d channels x %d days, %.0f MB plain, %.0f MB gzipped "
              "(medians of %d alternating runs)" % (
                  args.channels, args.days, os.path.getsize(plain) / 1e6,
                  os.path.getsize(zipped) / 1e6, rounds))
        print("%-40s %10s %10s %28s %8s  %s" % ("figure", "measured", "peak", "xmllint --stream --noout",
                                               "ratio", "target"))
        print("-" * 120)
        index = os.path.join(folder, "index.sqlite")
        for name, path in (("read and index, plain", plain), ("read and index, gzipped", zipped)):
            ours, theirs, peaks, their_peaks = [], [], [], []
            kept = ""
            for _ in range(rounds):
                seconds, peak, out = timed([tool, "--index", path, index, "--now", str(now)])
                ours.append(seconds)
                peaks.append(peak)
                kept = out.strip()
                seconds, peak, _ = timed([xmllint, "--stream", "--noout", path])
                theirs.append(seconds)
                their_peaks.append(peak)
            mine, yard = statistics.median(ours), statistics.median(theirs)
            peak = max(peaks)
            ratio = mine / yard
            print("%-40s %9.2fs %7.0f MiB %18.2fs %5.0f MiB %8.2f  <= 1.5 %s, peak <= 150 MiB %s" % (
                name, mine, peak, yard, max(their_peaks), ratio, "ok" if ratio <= 1.5 else "MISSED",
                "ok" if peak <= 150 else "MISSED"))
        print("  index: " + kept + ", %.0f MB" % (os.path.getsize(index) / 1e6))
        _, _, out = timed([tool, "--query", index, "--channels", str(args.channels), "--now", str(now)])
        median, p90, answered = out.split()
        print("%-40s %8sus %10s %28s %8s  <= 1000 us %s" % (
            "now and next, a page of 16 channels", median, "p90 %sus" % p90, "", "",
            "ok" if float(median) <= 1000 else "MISSED"))
        print("  (%s of 6,400 channel answers had both now and next)" % answered)
        if not args.quick:
            # A hostile size: 5 million programmes (15,000 channels x 7 days,
            # titles only), gzipped, read and indexed in bounded memory.
            for path in (plain, zipped):
                os.remove(path)
            many = os.path.join(folder, "many.xml.gz")
            subprocess.run([tool, "--generate", many, "--channels", "15000", "--days", "7", "--now",
                            str(now), "--gzip", "--bare"], check=True)
            seconds, peak, out = timed([tool, "--index", many, index, "--now", str(now)])
            print("%-40s %9.2fs %7.0f MiB   (%s; %.0f MB gzipped)  peak <= 150 MiB %s" % (
                "5,040,000 programmes, gzipped", seconds, peak, out.strip(),
                os.path.getsize(many) / 1e6, "ok" if peak <= 150 else "MISSED"))
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
