"""Playing inside the window, measured in the real program (Release build)
under Xvfb with libmpv (sound to the null output), on local HLS channels
made by ffmpeg (720p, 25 fps, a colour of their own with a white square
moving across) served over http on 127.0.0.1:

- processor time of the wall at rest with no preview (the selection on a
  tile without a stream): the yardstick the 0.01-core limit applies to;
- processor time with the selected tile's preview playing;
- processor time watching the channel over the whole window;
- Page Down while watching, to the next channel's first picture in the
  window's middle, against starting the outside player (mpv, as Shift+Enter
  starts it, drawing with x11) on the same stream until its picture shows:
  medians of the same number of tries, in one run, and their ratio
  (target <= 0.5);
- resident memory after the first zap and after many zaps in a row
  (limit: within 64 MiB);
- the two ways a preview can reach its tile (quillon-bench-preview-render):
  libmpv's OpenGL render API into a framebuffer object, and its software
  renderer uploaded with glTexSubImage2D, one after the other on the same
  stream.

Usage: python3 bench/watch_bench.py --quillon <exe> --build <builddir>
       --source <srcdir> [--quick]
"""

import argparse
import ctypes
import os
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from scroll_latency import Display, cpu_seconds, resident_mib  # noqa: E402

NEXT, PRIOR, RETURN = 0xff56, 0xff55, 0xff0d
RED, GREEN = (230, 20, 20), (20, 200, 20)


def parse_args():
    parser = argparse.ArgumentParser()
    parser.add_argument("--quillon", required=True)
    parser.add_argument("--build", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--keep", action="store_true")
    args = parser.parse_args()
    for name in ("quillon", "build", "source"):
        setattr(args, name, os.path.abspath(getattr(args, name)))
    return args


def make_stream(folder, name, colour, seconds):
    target = os.path.join(folder, name)
    os.makedirs(target)
    graph = ("color=c=0x%02x%02x%02x:s=1280x720:r=25:d=%d[bg];color=c=white:s=120x120:r=25[box];"
             "[bg][box]overlay=x='mod(t*300,1160)':y=300:shortest=1" % (colour + (seconds,)))
    subprocess.run(["ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-filter_complex", graph,
                    "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p", "-g", "25",
                    "-f", "hls", "-hls_time", "1", "-hls_playlist_type", "vod",
                    "-hls_segment_filename", os.path.join(target, "seg%03d.ts"),
                    os.path.join(target, "index.m3u8")], check=True)


def core_share(pid, seconds):
    before, start = cpu_seconds(pid), time.perf_counter()
    time.sleep(seconds)
    return (cpu_seconds(pid) - before) / (time.perf_counter() - start)


def main():
    args = parse_args()
    sys.path.insert(0, os.path.join(args.source, "tests", "e2e"))
    import harness
    from watch_streams import StreamServer, import_channels

    rest_seconds = 5 if args.quick else 10
    tries = 3 if args.quick else 7
    zaps = 40 if args.quick else 200
    server = harness.XServer()
    scratch = harness.Scratch(args.keep)
    folder = scratch.folder
    results = {}
    app = None
    streams = None
    try:
        www = os.path.join(folder, "www")
        make_stream(www, "red", RED, 60)
        make_stream(www, "green", GREEN, 60)
        streams = StreamServer(www)
        import_channels(args, folder, [("Red", streams.address("red")),
                                       ("Green", streams.address("green"))])
        harness.write(folder, "VESTRALUME/n/b.txt", "5")  # a tile without a stream
        app = harness.Quillon(server, args.quillon, folder, {"QUILLON_AUDIO_OUTPUT": "null", "QUILLON_PLAY_IN_WINDOW": "yes"})
        pid = app.process.pid
        display = Display(server.display)
        display.x11.XDefaultRootWindow.restype = ctypes.c_ulong
        display.x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        root = display.x11.XDefaultRootWindow(display.handle)
        keys = {k: display.keycode(k) for k in (NEXT, PRIOR, RETURN)}

        def middle():
            data = display.grab(root, 952, 208, 16, 16)
            n = len(data) // 4
            if n == 0:
                return (0, 0, 0)
            b = sum(data[0::4]) // n
            g = sum(data[1::4]) // n
            r = sum(data[2::4]) // n
            return (r, g, b)

        def wait_colour(colour, timeout=10.0):
            start = time.perf_counter()
            while time.perf_counter() - start < timeout:
                if harness.close_colour(middle(), colour, 50):
                    return time.perf_counter() - start
                time.sleep(0.005)
            return None

        time.sleep(3)
        results["idle"] = core_share(pid, rest_seconds)
        harness.write(folder, "VESTRALUME/n/b.txt", "1")
        time.sleep(3)
        results["preview"] = core_share(pid, rest_seconds)
        display.key(keys[RETURN])
        if wait_colour(RED) is None:
            raise RuntimeError("the channel did not fill the window")
        time.sleep(2)
        results["watching"] = core_share(pid, rest_seconds)

        # Page Down and Page Up between the two channels, each timed to the
        # other's picture.
        zap_times = []
        current = RED
        for i in range(tries * 2):
            wanted = GREEN if current == RED else RED
            display.key(keys[NEXT] if i % 2 == 0 else keys[PRIOR])
            took = wait_colour(wanted)
            if took is None:
                raise RuntimeError("zap %d did not show its channel" % i)
            zap_times.append(took)
            current = wanted
            time.sleep(0.5)
        results["zap"] = statistics.median(zap_times)

        # The outside player on the same stream, over the window (which
        # shows the other channel meanwhile).
        mpv = shutil.which("mpv")
        outside_times = []
        for _ in range(tries):
            wanted = GREEN if current == RED else RED
            address = streams.address("green" if wanted == GREEN else "red")
            start = time.perf_counter()
            player = subprocess.Popen([mpv, "--no-config", "--vo=x11", "--ao=null", "--fs",
                                       "--force-window=immediate", "--", address],
                                      env=server.env(), stdout=subprocess.DEVNULL,
                                      stderr=subprocess.DEVNULL)
            took = wait_colour(wanted, 20)
            shown = time.perf_counter()
            player.terminate()
            player.wait()
            if took is None:
                raise RuntimeError("the outside player did not show the stream")
            outside_times.append(shown - start)
            time.sleep(0.5)
        results["outside"] = statistics.median(outside_times)

        # Memory over many zaps (the keyboard focus back on the window).
        server.run("xdotool", "windowfocus", "--sync", app.window, check_status=False)
        display.key(keys[NEXT])
        current = GREEN if current == RED else RED
        wait_colour(current)
        first = resident_mib(pid)
        peak = first
        for i in range(zaps):
            display.key(keys[NEXT])
            current = GREEN if current == RED else RED
            wait_colour(current, 5)
            peak = max(peak, resident_mib(pid))
        results["rss_first"], results["rss_last"], results["rss_peak"] = first, resident_mib(pid), peak
        results["zaps"] = zaps + 1
        app.stop()
        app = None

        # The two render paths for a preview, alternating, on the same stream.
        program = os.path.join(args.build, "bench", "quillon-bench-preview-render")
        paths = {"gl": [], "sw": []}
        for _ in range(1 if args.quick else 2):
            for mode in ("gl", "sw"):
                out = subprocess.run([program, mode, streams.address("red"), str(rest_seconds)],
                                     env=server.env(), capture_output=True, text=True,
                                     timeout=120).stdout.split()
                paths[mode].append(float(out[1]))
                results[mode + "_pictures"] = int(out[3])
        results["gl"] = statistics.median(paths["gl"])
        results["sw"] = statistics.median(paths["sw"])
    finally:
        if app:
            app.stop()
        if streams:
            streams.close()
        server.close()
        scratch.close()

    r = results
    print("Playing inside the window (720p HLS channels on 127.0.0.1, Release build, llvmpipe)")
    print("  %-58s %.4f cores   (limit 0.01: %s)" % ("wall at rest, no preview (yardstick)", r["idle"],
                                                    "ok" if r["idle"] <= 0.01 else "OVER"))
    print("  %-58s %.3f cores" % ("selected tile's preview playing, at rest", r["preview"]))
    print("  %-58s %.3f cores" % ("watching over the whole window (1920 x 1080)", r["watching"]))
    print("  %-58s %.0f ms" % ("Page Down to the next channel's picture (median)", r["zap"] * 1000))
    print("  %-58s %.0f ms" % ("outside mpv started on the same stream (median)", r["outside"] * 1000))
    ratio = r["zap"] / r["outside"]
    print("  %-58s %.2f   (target <= 0.5: %s)" % ("ratio", ratio, "ok" if ratio <= 0.5 else "MISSED"))
    grown = r["rss_last"] - r["rss_first"]
    print("  %-58s %.0f MiB -> %.0f MiB (peak %.0f), %+.0f MiB   (limit 64: %s)"
          % ("resident memory, first zap -> after %d zaps" % r["zaps"], r["rss_first"], r["rss_last"],
             r["rss_peak"], grown, "ok" if grown <= 64 else "OVER"))
    print("  %-58s %.3f cores (%d pictures)" % ("preview 256 x 128: OpenGL render API into a framebuffer",
                                                r["gl"], r["gl_pictures"]))
    print("  %-58s %.3f cores (%d pictures)" % ("preview 256 x 128: software renderer + glTexSubImage2D",
                                                r["sw"], r["sw_pictures"]))
    return 0 if r["idle"] <= 0.01 and grown <= 64 else 1


if __name__ == "__main__":
    sys.exit(main())
