"""Media channels play in the real mpv. A short HLS stream of ffmpeg's test
pattern is served over http on 127.0.0.1 by the test itself (every request
logged); a playlist of two channels pointing at it is imported with
quillon-import, as a person would. Shift+Enter in the running viewer starts
mpv, which fetches the segments and shows the test pattern in its window,
titled with the channel's name; Shift+Enter on the second channel ends that mpv and starts
another one; Esc leaves the player running. (Enter alone plays the channel
inside the window: tests/e2e/test_watch.py.) mpv's output driver for the
virtual screen comes from a configuration folder (MPV_HOME), so the program's
own arguments stay as shipped."""

import os
import shutil
import signal
import subprocess
import time

import harness
from harness import check, run_import, wait_until
from test_evening import make_recorder, opened_lines

WIDTH, HEIGHT = 640, 360
# Points of ffmpeg's "testsrc" picture (as shares of its width and height)
# that keep their colour while it plays: the middles of its colour bars, away
# from the moving counter, the scrolling gradient and the circle's edge.
PATTERN_POINTS = [(x / WIDTH, y / HEIGHT)
                  for x in (40, 200, 280, 360, 440, 600) for y in (30, 180)]


def make_stream(folder):
    """Thirty seconds of the test pattern as one-second HLS segments in
    `folder`/stream, reachable as one/ and two/ as well."""
    stream = os.path.join(folder, "stream")
    os.makedirs(stream)
    subprocess.run(["ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi",
                    "-i", "testsrc=size=%dx%d:rate=25:duration=30" % (WIDTH, HEIGHT),
                    "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p", "-g", "25",
                    "-f", "hls", "-hls_time", "1", "-hls_playlist_type", "vod",
                    "-hls_segment_filename", os.path.join(stream, "seg%03d.ts"),
                    os.path.join(stream, "index.m3u8")], check=True)
    # The colours the pattern has at the points checked, from its first frame.
    frame = subprocess.run(["ffmpeg", "-hide_banner", "-loglevel", "error", "-f", "lavfi",
                            "-i", "testsrc=size=%dx%d:rate=25" % (WIDTH, HEIGHT),
                            "-frames:v", "1", "-f", "image2pipe", "-vcodec", "ppm", "-"],
                           check=True, capture_output=True).stdout
    reference = harness.parse_ppm(frame)
    colours = [reference.pixel(x * WIDTH, y * HEIGHT) for x, y in PATTERN_POINTS]
    # Two channels, two addresses, one stream.
    for name in ("one", "two"):
        os.symlink(stream, os.path.join(folder, name))
    return colours


def stream_address(streams, name):
    return streams.url("%s/index.m3u8" % name)


def segments(streams, name):
    """The segments of stream `name` asked for so far."""
    return [path for path in streams.asked("/%s/seg" % name) if path.endswith(".ts")]


def process(pid):
    """(state, parent, arguments) of a process, or None when it is gone."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            stat = f.read()
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            arguments = [a.decode("utf-8", "replace") for a in f.read().split(b"\0")[:-1]]
    except OSError:
        return None
    fields = stat[stat.rindex(")") + 2:].split()
    return fields[0], int(fields[1]), arguments


def running(pid):
    found = process(pid)
    return found is not None and found[0] != "Z"


def children(parent):
    found = {}
    for name in os.listdir("/proc"):
        if name.isdigit():
            info = process(int(name))
            if info and info[1] == parent:
                found[int(name)] = info
    return found


def processes_playing(address):
    """Every process whose arguments hold `address` (the test's own stream)."""
    found = []
    for name in os.listdir("/proc"):
        if name.isdigit():
            info = process(int(name))
            if info and address in info[2] and info[0] != "Z":
                found.append(int(name))
    return found


def window_of(server, title):
    out = server.run("xdotool", "search", "--onlyvisible", "--name", title, check_status=False)
    ids = out.split()
    return ids[0] if ids else None


def shows_pattern(server, window, colours, path):
    """Whether the picture in `window` is the test pattern (scaled to fit the
    window, keeping its shape). Saves the screen to `path`."""
    out = server.run("xdotool", "getwindowgeometry", "--shell", window)
    values = dict(line.split("=", 1) for line in out.split() if "=" in line)
    x, y = int(values["X"]), int(values["Y"])
    w, h = int(values["WIDTH"]), int(values["HEIGHT"])
    xwd = subprocess.run(["xwd", "-root", "-silent"], env=server.env(), capture_output=True,
                         check=True).stdout
    subprocess.run(["/usr/bin/convert", "xwd:-", path], input=xwd, check=True)
    screen = harness.parse_ppm(subprocess.run(["/usr/bin/convert", "xwd:-", "ppm:-"], input=xwd,
                                              capture_output=True, check=True).stdout)
    scale = min(w / WIDTH, h / HEIGHT)
    left, top = x + (w - WIDTH * scale) / 2, y + (h - HEIGHT * scale) / 2
    seen = [screen.average(left + px * WIDTH * scale, top + py * HEIGHT * scale, 2)
            for px, py in PATTERN_POINTS]
    return all(harness.close_colour(a, b, 48) for a, b in zip(seen, colours)), seen


def test(args, server, folder):
    for program in ("mpv", "ffmpeg"):
        check(shutil.which(program), "%s is not installed (scripts/setup installs it)" % program)
    www = os.path.join(folder, "www")
    colours = make_stream(www)
    streams = harness.HttpServer(folder=www)
    harness.make_sample_root(args, folder)
    first, second = stream_address(streams, "one"), stream_address(streams, "two")
    playlist = os.path.join(folder, "streams.m3u")
    with open(playlist, "w") as f:
        f.write("#EXTM3U\n#EXTINF:-1,Test Pattern One\n%s\n"
                "#EXTINF:-1,Test Pattern Two\n%s\n" % (first, second))
    status, output = run_import(args, folder, playlist)
    check(status == 0, "the import failed with status %d:\n%s" % (status, output))
    check(not segments(streams, "one") and not segments(streams, "two"),
          "the import fetched the streams")
    harness.write(folder, "VESTRALUME/n/h.txt", "2")  # no product page on this press

    mpv_home = os.path.join(folder, "mpv-home")
    os.makedirs(mpv_home)
    with open(os.path.join(mpv_home, "mpv.conf"), "w") as f:
        f.write("vo=x11\nao=null\nhwdec=no\nlog-file=%s\n" % os.path.join(folder, "mpv.log"))
    stub_dir, opened = make_recorder(folder)
    env = {"PATH": stub_dir + ":" + os.environ["PATH"], "MPV_HOME": mpv_home}
    shots = os.path.join(args.build, "e2e-media-player")
    os.makedirs(shots, exist_ok=True)

    app = harness.Quillon(server, args.quillon, folder, env)
    try:
        quillon = app.process.pid
        mpv = shutil.which("mpv", path=env["PATH"])

        def player_for(address, title):
            players = [pid for pid, info in children(quillon).items()
                       if info[2][-1:] == [address] and info[0] != "Z"]
            check(len(players) <= 1, "one player per channel: %r" % players)
            if not players:
                return None
            arguments = process(players[0])[2]
            check(arguments == [mpv, "--fs", "--force-window=immediate",
                                "--force-media-title=" + title, "--", address],
                  "mpv got %r" % arguments)
            return players[0]

        def watch(name, address, title, shot):
            player = wait_until(lambda: player_for(address, title), 20, 0.1,
                                "mpv to start for " + address)
            wait_until(lambda: len(segments(streams, name)) >= 3, 30, 0.1,
                       "mpv to fetch segments of " + address)
            window = wait_until(lambda: window_of(server, title), 30, 0.2,
                                "an mpv window titled " + title)
            last = [None]

            def pattern():
                shown, last[0] = shows_pattern(server, window, colours, shot)
                return shown
            try:
                wait_until(pattern, 30, 0.5, "the test pattern in the mpv window")
            except harness.Failure:
                raise harness.Failure("the mpv window shows %r, the pattern has %r (%s)"
                                      % (last[0], colours, shot))
            print("%s: %d segments fetched, pattern on screen in %s" %
                  (title, len(segments(streams, name)), shot))
            return player

        app.key("shift+Return")
        one = watch("one", first, "Test Pattern One", os.path.join(shots, "first-channel.png"))

        # The next channel: the first player ends, a new one plays.
        app.key("Right")
        wait_until(lambda: harness.read(folder, "VESTRALUME/n/b.txt").strip() == "2", 15, 0.1,
                   "the selection on tile 2")
        app.key("shift+Return")
        two = watch("two", second, "Test Pattern Two", os.path.join(shots, "second-channel.png"))
        wait_until(lambda: not running(one), 10, 0.1, "the first player to end")
        check(window_of(server, "Test Pattern One") is None, "the first player's window is gone")
        check(running(two), "the second player runs")
        zombies = [pid for pid, info in children(quillon).items() if info[0] == "Z"]
        check(not zombies, "ended players left zombies: %r" % zombies)
        check(not opened_lines(opened), "media channels never reach the desktop handler: %r"
              % opened_lines(opened))

        # Esc ends the viewer, not the player.
        app.key("Escape")
        status = app.wait_exit()
        check(status == 0, "Esc ended the program with status %s" % status)
        time.sleep(0.5)
        check(running(two), "Esc ended the player too")
    finally:
        app.stop()
        for address in (first, second):
            for pid in processes_playing(address):
                os.kill(pid, signal.SIGTERM)
        streams.close()
        log = os.path.join(folder, "mpv.log")
        if os.path.exists(log):
            shutil.copy(log, os.path.join(shots, "mpv.log"))


if __name__ == "__main__":
    harness.main(test)
