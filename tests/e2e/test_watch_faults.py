"""Channels that cannot be watched, in the real program under Xvfb with
libmpv: an address where nothing listens, a server that accepts and never
answers, a stream cut off after a few seconds, and a stream whose server is
killed while it is watched. Each ends with its message across the window
within the player's timeouts, the program never hangs, Esc goes back to the
wall, and a second Esc ends the program with status 0, at once even while
the player still waits for the silent server."""

import os
import re
import signal
import subprocess
import sys
import time

import harness
from harness import check, wait_until
from watch_streams import (COLOURS, SilentServer, StreamServer, centre_colour, dead_address,
                           import_channels, make_stream, message_shown, share_close, tile_pixels)


def killable_server(folder):
    """Python's own http server for `folder` on an ephemeral port of
    127.0.0.1, in a process of its own: (process, port)."""
    process = subprocess.Popen([sys.executable, "-u", "-m", "http.server", "--bind", "127.0.0.1",
                                "--directory", folder, "0"],
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    line = process.stdout.readline()
    found = re.search(r"port (\d+)", line)
    check(found, "the stream server did not start: %r" % line)
    return process, int(found.group(1))


def test(args, server, folder):
    www = os.path.join(folder, "www")
    make_stream(www, "red", 20)
    make_stream(www, "green", 8)
    streams = StreamServer(www)
    silent = SilentServer()
    killable, port = killable_server(www)
    import_channels(args, folder, [
        ("Killed", "http://127.0.0.1:%d/red/index.m3u8" % port),
        ("Nobody there", dead_address()),
        ("Never answers", silent.address()),
        ("Cut off", streams.cut_address("green")),
    ])
    shots = os.path.join(args.build, "e2e-watch-faults")
    os.makedirs(shots, exist_ok=True)
    scale = float(harness.read(folder, "VESTRALUME/n/u.txt").split()[0])

    app = harness.Quillon(server, args.quillon, folder, {"QUILLON_AUDIO_OUTPUT": "null", "QUILLON_PLAY_IN_WINDOW": "yes"})
    try:
        def on_the_wall(tile):
            image = app.screenshot()
            return (not message_shown(image) and
                    share_close(tile_pixels(image, scale, tile), (0, 0, 0), 30) < 0.3)

        for tile, name, limit in ((2, "nobody-there", 15), (3, "never-answers", 20),
                                  (4, "cut-off", 25)):
            app.key("Right")
            wait_until(lambda: harness.read(folder, "VESTRALUME/n/b.txt").strip() == str(tile),
                       10, 0.1, "the selection on tile %d" % tile)
            started = time.monotonic()
            app.key("Return")
            wait_until(lambda: message_shown(app.screenshot()), limit, 0.3,
                       "the message of channel %d (%s)" % (tile, name))
            print("%s: message after %.1f s" % (name, time.monotonic() - started))
            app.screenshot(os.path.join(shots, name + ".png"))
            check(app.alive(), "the program ended on channel %d" % tile)
            app.key("Escape")
            wait_until(lambda: on_the_wall(tile), 10, 0.3, "the wall after Esc on " + name)
        check(silent.held, "the silent server was asked")

        # The stream's server killed while it is watched.
        app.key("Left", "Left", "Left")
        wait_until(lambda: harness.read(folder, "VESTRALUME/n/b.txt").strip() == "1", 10, 0.1,
                   "the selection on tile 1")
        app.key("Return")
        wait_until(lambda: harness.close_colour(centre_colour(app.screenshot()), COLOURS["red"], 50),
                   15, 0.2, "red to fill the window")
        killable.send_signal(signal.SIGKILL)
        killable.wait()
        started = time.monotonic()
        wait_until(lambda: message_shown(app.screenshot()), 30, 0.5,
                   "the message once the killed server's stream ran out")
        print("killed server: message after %.1f s" % (time.monotonic() - started))
        app.screenshot(os.path.join(shots, "killed-server.png"))
        app.key("BackSpace")
        wait_until(lambda: on_the_wall(1), 10, 0.3, "the wall after Backspace")

        # Leaving while the player still waits for the silent server: Esc
        # back to the wall, Esc again ends the program at once.
        app.key("Right", "Right")
        wait_until(lambda: harness.read(folder, "VESTRALUME/n/b.txt").strip() == "3", 10, 0.1,
                   "the selection on tile 3")
        app.key("Return")
        time.sleep(1.0)
        app.key("Escape")
        wait_until(lambda: on_the_wall(3), 10, 0.3, "the wall while the silent server waits")
        started = time.monotonic()
        app.key("Escape")
        status = app.wait_exit(20)
        check(status == 0, "Esc ended the program with status %s" % status)
        check(time.monotonic() - started < 5, "ending took %.1f s" % (time.monotonic() - started))
        reports = harness.sanitizer_reports(app.output())
        check(not reports, "sanitizer reports:\n" + "\n".join(reports))
    finally:
        app.stop()
        if killable.poll() is None:
            killable.kill()
            killable.wait()
        streams.close()
        silent.close()


if __name__ == "__main__":
    harness.main(test)
