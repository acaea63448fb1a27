#!/usr/bin/env python3
"""Live pictures: the companion quillon-live against its yardstick, measured
in one run on the same local streams (HLS of ffmpeg's test pattern, 640x360,
25 frames a second, a key frame a second, served over http on 127.0.0.1):

- time to a picture per channel: `quillon-live --once` over 16 channels, one
  connection at a time (its start included), against
  `ffmpeg -i URL -frames:v 1 -s 256x128 out.jpg` per channel;
- processor seconds per picture (user + system, from wait4) for both;
- the companion renewing a page: it runs fed by a connection as the viewer
  starts it, renewing the 16 pictures every --interval seconds for
  --seconds; its processor time over that time (cores) and its peak
  resident memory, and the same processor time scaled to the default
  renewal of every 60 s.

Everything lives in /dev/shm."""

import argparse
import functools
import http.server
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

CHANNELS = 16


def serve(folder):
    class Quiet(http.server.SimpleHTTPRequestHandler):
        def log_message(self, *args):
            pass
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(Quiet, directory=folder))
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def timed(command, **kwargs):
    """(wall seconds, processor seconds, peak resident KiB) of a child."""
    start = time.monotonic()
    child = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, **kwargs)
    _, status, usage = os.wait4(child.pid, 0)
    if status != 0:
        sys.exit("%s failed (%d)" % (command[0], status))
    return time.monotonic() - start, usage.ru_utime + usage.ru_stime, usage.ru_maxrss


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--seconds", type=float, default=None)
    parser.add_argument("--interval", type=int, default=10)
    args = parser.parse_args()
    args.build = os.path.abspath(args.build)
    seconds = args.seconds or (25 if args.quick else 120)
    work = tempfile.mkdtemp(prefix="quillon-live-bench-", dir="/dev/shm")
    try:
        www = os.path.join(work, "www")
        os.makedirs(www)
        subprocess.run(["ffmpeg", "-hide_banner", "-loglevel", "error", "-f", "lavfi",
                        "-i", "testsrc=size=640x360:rate=25:duration=20", "-c:v", "libx264",
                        "-preset", "veryfast", "-pix_fmt", "yuv420p", "-g", "25", "-f", "hls",
                        "-hls_time", "2", "-hls_playlist_type", "vod",
                        os.path.join(www, "index.m3u8")], check=True)
        for n in range(1, CHANNELS + 1):
            os.symlink(www, os.path.join(work, "c%d" % n))
        server = serve(work)
        port = server.server_address[1]
        addresses = ["http://127.0.0.1:%d/c%d/index.m3u8" % (port, n) for n in range(1, CHANNELS + 1)]

        subprocess.run([os.path.join(args.build, "tools", "quillon-make-data"), work], check=True,
                       stdout=subprocess.DEVNULL)
        playlist = os.path.join(work, "live.m3u")
        with open(playlist, "w") as f:
            f.write("#EXTM3U\n" + "".join("#EXTINF:-1,Pattern %d\n%s\n" % (n, a)
                                          for n, a in enumerate(addresses, 1)))
        env = dict(os.environ, XDG_CACHE_HOME=os.path.join(work, "cache"))
        subprocess.run([os.path.join(args.build, "tools", "quillon-import"), "--root", work, playlist],
                       check=True, stdout=subprocess.DEVNULL, env=env)
        live = os.path.join(args.build, "quillon-live")
        settings = os.path.join(work, "VESTRALUME", "live.txt")

        # Time to a picture, one connection at a time, against ffmpeg.
        with open(settings, "w") as f:
            f.write("connections 1\n")
        rounds = 1 if args.quick else 3
        ours, theirs = [], []
        for _ in range(rounds):
            ours.append(timed([live, "--once"], cwd=work))
            for address in addresses:
                theirs.append(timed(["ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-i", address,
                                     "-frames:v", "1", "-s", "256x128", os.path.join(work, "out.jpg")]))
        our_wall = min(w for w, _, _ in ours) / CHANNELS
        our_cpu = min(c for _, c, _ in ours) / CHANNELS
        their_wall = sorted(w for w, _, _ in theirs)[len(theirs) // 2]
        their_cpu = sorted(c for _, c, _ in theirs)[len(theirs) // 2]
        print("Live pictures (16 local HLS channels, 640x360, one connection at a time)")
        print("  %-44s %8s %10s %8s %8s" % ("", "figure", "yardstick", "ratio", "target"))
        ratio = our_wall / their_wall
        print("  %-44s %6.0f ms %7.0f ms %8.2f %8s %s" % ("time to a picture per channel", our_wall * 1000,
              their_wall * 1000, ratio, "<= 0.5", "ok" if ratio <= 0.5 else "MISSED"))
        print("  %-44s %6.0f ms %7.0f ms %8.2f" % ("processor time per picture", our_cpu * 1000,
              their_cpu * 1000, our_cpu / their_cpu))

        # Renewing the page.
        with open(settings, "w") as f:
            f.write("interval %d\nconnections 2\n" % args.interval)
        child = subprocess.Popen([live], cwd=work, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL)
        child.stdin.write(b"list 1\n")
        child.stdin.flush()
        time.sleep(seconds)
        with open("/proc/%d/status" % child.pid) as f:
            peak = [int(line.split()[1]) for line in f if line.startswith("VmHWM")][0]
        with open("/proc/%d/stat" % child.pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        ticks = os.sysconf("SC_CLK_TCK")
        cpu = (int(fields[11]) + int(fields[12])) / ticks
        child.stdin.close()
        child.wait(timeout=30)
        renewals = seconds / args.interval
        cores = cpu / seconds
        per_minute = cpu / renewals * (seconds / 60) / seconds if renewals else 0
        print("  renewing 16 pictures every %d s for %.0f s: %.3f cores, peak resident %.0f MiB"
              % (args.interval, seconds, cores, peak / 1024))
        print("  %-44s %8.4f %10s %8s %8s %s" % ("cores, renewing every 60 s (scaled)", per_minute, "", "",
              "<= 0.05", "ok" if per_minute <= 0.05 else "MISSED"))
        print("  %-44s %6.0f MiB %10s %8s %8s %s" % ("peak resident memory", peak / 1024, "", "", "<= 100",
              "ok" if peak / 1024 <= 100 else "MISSED"))
        server.shutdown()
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
