"""Live pictures on the real wall. Twenty short HLS streams of ffmpeg's colour
source, each its own colour, are served over http on 127.0.0.1 (channel 6
by a server of its own) and imported with quillon-import. Started, the
viewer starts the companion and every tile shows its stream's colour within
15 s. Channel 3's stream then turns another colour and channel 6's server
stops: tile 3 follows within the interval plus 5 s and tile 6 shows the
dimmed "No signal" card with its status "refused"; with the server back,
its picture comes back. While a player Quillon started plays, the servers
are asked nothing. The companion ends with the viewer, and the checker
passes at the end."""

import os
import subprocess
import time

import harness
from harness import check, run_import, wait_until

COLOURS = [(230, 30, 30), (30, 200, 40), (40, 60, 230), (230, 220, 30), (220, 40, 220),
           (40, 220, 220), (240, 140, 20), (130, 40, 230), (20, 120, 40), (140, 140, 240),
           (240, 240, 240), (130, 70, 10), (20, 130, 130), (240, 140, 190), (130, 130, 20),
           (90, 90, 90), (200, 100, 100), (100, 200, 100), (100, 100, 200), (200, 200, 100)]
CHANGED = (250, 250, 250)
INTERVAL = 5
DEAD = 6


def make_stream(folder, colour):
    os.makedirs(folder, exist_ok=True)
    return subprocess.Popen(
        ["ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi",
         "-i", "color=c=0x%02x%02x%02x:s=160x90:r=5:d=3" % colour,
         "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p", "-g", "5",
         "-f", "hls", "-hls_time", "1", "-hls_playlist_type", "vod",
         "-hls_segment_filename", os.path.join(folder, "seg%d.ts"),
         os.path.join(folder, "index.m3u8")])


def tile_colour(image, tile, scale, dx=0.0, dy=0.4):
    x, y = harness.tile_point(scale, tile, dx, dy)
    return image.average(x, y, 3)


def test(args, server, folder):
    began = time.monotonic()
    www = os.path.join(folder, "www")
    makers = [make_stream(os.path.join(www, str(n)), colour) for n, colour in enumerate(COLOURS, 1)]
    makers.append(make_stream(os.path.join(www, "changed"), CHANGED))
    for maker in makers:
        check(maker.wait() == 0, "ffmpeg could not make a stream")
    dead_folder = os.path.join(folder, "www-dead")
    os.rename(os.path.join(www, str(DEAD)), dead_folder)
    main = harness.HttpServer(folder=www)
    dead = harness.HttpServer(folder=dead_folder)
    try:
        harness.make_sample_root(args, folder)
        playlist = os.path.join(folder, "live.m3u")
        with open(playlist, "w") as f:
            f.write("#EXTM3U\n")
            for n in range(1, len(COLOURS) + 1):
                port = dead.port if n == DEAD else main.port
                path = "" if n == DEAD else "%d/" % n
                f.write("#EXTINF:-1,Colour %d\nhttp://127.0.0.1:%d/%sindex.m3u8\n" % (n, port, path))
        status, output = run_import(args, folder, "--wait", playlist)
        check(status == 0, "the import failed with status %d:\n%s" % (status, output))
        print("streams made and imported in %.1f s" % (time.monotonic() - began))
        harness.write(folder, "VESTRALUME/live.txt", "pictures on\ninterval %d\nconnections 2\n" % INTERVAL)
        scale = float(harness.read(folder, "VESTRALUME/n/u.txt"))
        shots = os.path.join(args.build, "e2e-live-wall")
        os.makedirs(shots, exist_ok=True)

        stub_dir = os.path.join(folder, "stub-bin")
        os.makedirs(stub_dir)
        player_pid = os.path.join(folder, "player.pid")
        with open(os.path.join(stub_dir, "mpv"), "w") as f:
            f.write("#!/bin/sh\necho $$ > '%s'\nexec sleep 60\n" % player_pid)
        os.chmod(os.path.join(stub_dir, "mpv"), 0o755)
        harness.write(folder, "VESTRALUME/n/h.txt", "2")  # no product page on Enter
        app = harness.Quillon(server, args.quillon, folder, {"PATH": stub_dir + ":" + os.environ["PATH"],
                                                             "QUILLON_LIVE_PICTURES": "on"})
        try:
            def wall_shows(expected, what):
                last = {}

                def showing():
                    image = app.screenshot()
                    for tile, colour in expected.items():
                        last[tile] = tile_colour(image, tile, scale)
                        if not harness.close_colour(last[tile], colour, 50):
                            return False
                    return True
                try:
                    wait_until(showing, 15 if what == "first" else INTERVAL + 5, 0.25, what)
                except harness.Failure:
                    app.screenshot(os.path.join(shots, "failed-%s.png" % what.replace(" ", "-")))
                    raise harness.Failure("%s: tiles show %r" % (what, last))

            start = time.monotonic()
            expected = {tile: COLOURS[tile - 1] for tile in range(1, 17)}
            dead_expected = dict(expected)
            wall_shows(expected, "first")
            print("every tile live after %.1f s" % (time.monotonic() - start))
            app.screenshot(os.path.join(shots, "live.png"))

            # Channel 3 changes colour; channel 6's server stops.
            os.rename(os.path.join(www, "3"), os.path.join(www, "3-old"))
            os.rename(os.path.join(www, "changed"), os.path.join(www, "3"))
            dead.close()
            expected[3] = CHANGED
            del dead_expected[DEAD]
            dead_expected[3] = CHANGED
            wall_shows(dead_expected, "changed colour")
            print("colour followed at %.1f s" % (time.monotonic() - start))
            wait_until(lambda: harness.read(folder, "VESTRALUME/live/1-%d.txt" % DEAD).startswith("refused"),
                       INTERVAL + 12, 0.25, "channel %d to be refused" % DEAD)
            time.sleep(0.5)
            image = app.screenshot(os.path.join(shots, "no-signal.png"))
            dim = tile_colour(image, DEAD, scale, -2.4, 1.3)  # beside the words
            check(max(dim) < 110, "the dead tile is not dimmed: %r" % (dim,))
            check(not harness.close_colour(dim, COLOURS[DEAD - 1], 50), "the dead tile shows its old picture")

            dead = harness.HttpServer(folder=dead_folder, port=dead.port)
            wall_shows(expected, "picture back")
            print("picture back at %.1f s" % (time.monotonic() - start))

            # A player plays (a stand-in mpv that waits): nothing is captured.
            asked = len(main.requests)
            app.key("Return")
            wait_until(lambda: os.path.exists(player_pid), 10, 0.05, "the player to start")
            time.sleep(1)  # a capture under way is given up
            asked = len(main.requests)
            time.sleep(INTERVAL + 1)
            check(len(main.requests) == asked, "captured while a player played: %s" % main.requests[asked:])
            with open(player_pid) as f:
                os.kill(int(f.read()), 15)
            wait_until(lambda: len(main.requests) > asked, INTERVAL + 5, 0.1, "captures after the player")
            print("player phase done at %.1f s" % (time.monotonic() - start))

            # The companion killed: started again; L switches it off and on.
            first = wait_until(lambda: companions(folder), 5, 0.1, "the companion")
            os.kill(first[0], 9)
            again = wait_until(lambda: [p for p in companions(folder) if p not in first], 5, 0.1,
                               "the companion to be started again")
            app.key("l")
            wait_until(lambda: not companions(folder), 5, 0.1, "L to end the companion")
            check("pictures off" in harness.read(folder, "VESTRALUME/live.txt"), "L did not switch the setting")
            app.key("l")
            wait_until(lambda: [p for p in companions(folder) if p not in again], 5, 0.1, "L to start it again")
            check(app.alive(), "the viewer ended")
            app.key("Escape")
            check(app.wait_exit() == 0, "Esc")
        finally:
            app.stop()
        wait_until(lambda: not companions(folder), 5, 0.1, "the companion to end with the viewer")
        sound, problems = harness.run_checker(args, folder)
        check(sound, "the checker finds:\n" + "\n".join(problems))
    finally:
        main.close()
        dead.close()


def companions(folder):
    """The process ids of companions working in `folder`."""
    return [int(p) for p in os.listdir("/proc") if p.isdigit() and _is_companion(p, folder)]


def _is_companion(pid, folder):
    try:
        with open("/proc/%s/cmdline" % pid, "rb") as f:
            command = f.read().split(b"\0")
        return command[0].endswith(b"quillon-live") and os.readlink("/proc/%s/cwd" % pid) == folder
    except OSError:
        return False


if __name__ == "__main__":
    harness.main(test)
