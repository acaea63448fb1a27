"""Several playlists make one catalogue, in the order given, and a channel a
playlist lists five times is one tile: while its first address is dead
(connection refused), opening it hands the second to the media player (a
stand-in mpv records which), and inside the window its preview and Enter
play the second (a real stream made by ffmpeg); --keep-duplicates keeps a
tile for each entry. While servers that never answer are tried, the wall
goes on taking keys. One server on 127.0.0.1, an ephemeral port."""

import os
import socket
import time

import harness
from harness import check, wait_until
from test_evening import make_recorder, opened_lines
from test_import import add_player_recorder, expect_sound, playlist, run_import
from watch_streams import (COLOURS, StreamServer, centre_colour, dead_address, make_stream,
                           share_close, tile_pixels)


def silent_address():
    """An http address on 127.0.0.1 whose server never answers: its listen
    queue is full, so a connection attempt waits until it gives up. Returns
    the address and the sockets to close."""
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(0)
    sockets = [listener]
    for _ in range(4):
        filler = socket.socket()
        filler.setblocking(False)
        filler.connect_ex(listener.getsockname())
        sockets.append(filler)
    return "http://127.0.0.1:%d/quiet.ts" % listener.getsockname()[1], sockets


def add_start_recorder(stub_dir, log):
    """A stand-in mpv that also records when it was started (seconds since
    the epoch)."""
    stub = os.path.join(stub_dir, "mpv")
    with open(stub, "w") as f:
        f.write("#!/bin/sh\nwhile [ \"$#\" -gt 1 ] && [ \"$1\" != -- ]; do shift; done\n"
                "printf 'mpv\\t%%s\\t%%s\\n' \"$2\" \"$(date +%%s.%%N)\" >> '%s'\n" % log)
    os.chmod(stub, 0o755)


def test(args, server, folder):
    harness.make_sample_root(args, folder)
    stub_dir, log = make_recorder(folder)
    add_player_recorder(stub_dir, log)
    env = {"PATH": stub_dir + ":" + os.environ["PATH"]}

    # Two playlists, one catalogue, in order.
    first, second = os.path.join(folder, "a.m3u"), os.path.join(folder, "b.m3u")
    with open(first, "w") as f:
        f.write(playlist("alpha", 5))
    with open(second, "w") as f:
        f.write(playlist("beta", 4))
    status, output = run_import(args, folder, first, second)
    print(output)
    check(status == 0 and "Imported 9 channels" in output, "two playlists:\n" + output)
    names = [harness.read(folder, "VESTRALUME/1/%d.txt" % n).split("\n")[1] for n in range(1, 10)]
    check(names == ["Alpha Channel %d" % n for n in range(1, 6)] +
          ["Beta Channel %d" % n for n in range(1, 5)], "the catalogue's order: %r" % names)
    expect_sound(args, folder, "two playlists")

    www = os.path.join(folder, "www")
    make_stream(www, "red", 12)
    stream = StreamServer(www)
    dead = dead_address()
    alive = stream.address("red")
    try:
        lines = ["#EXTM3U"]
        film = [dead, alive] + ["http://127.0.0.1:%d/film/%d.ts" % (stream.port, n) for n in (3, 4, 5)]
        for n, address in enumerate(film, 1):
            quality = ("HD", "SD", "FHD", "", "(backup)")[n - 1]
            lines += ['#EXTINF:-1 group-title="Movies",Film Channel %s' % quality, address]
        lines += ['#EXTINF:-1 group-title="News",News', "http://127.0.0.1:%d/news.ts" % stream.port]
        duplicates = os.path.join(folder, "dup.m3u")
        with open(duplicates, "w") as f:
            f.write("\n".join(lines) + "\n")

        status, output = run_import(args, folder, "--keep-duplicates", duplicates)
        check(status == 0 and harness.read(folder, "VESTRALUME/1/count.txt") == "6\n",
              "--keep-duplicates:\n" + output)
        check(not os.path.exists(os.path.join(folder, "VESTRALUME/1/alternatives.tsv")),
              "alternatives without a merge")
        status, output = run_import(args, folder, duplicates)
        print(output)
        check(status == 0 and "Imported 2 channels" in output and "4 entries merged" in output,
              "the merge:\n" + output)
        check(harness.read(folder, "VESTRALUME/1/count.txt") == "2\n", "one tile for the film")
        expect_sound(args, folder, "the merge")

        # In a media player: the first server that takes a connection.
        harness.write(folder, "VESTRALUME/n/b.txt", "1")
        harness.write(folder, "VESTRALUME/n/h.txt", "2")  # no product page on this Enter
        harness.write(folder, "VESTRALUME/n/z1.txt", "\n".join(str(n) for n in range(1, 17)))
        app = harness.Quillon(server, args.quillon, folder, env)
        try:
            harness.wait_settled(folder, quiet=1.0)
            app.key("Return")
            wait_until(lambda: [l for l in opened_lines(log) if l.startswith("mpv\t")], 15, 0.1,
                       "Enter on the film")
            played = [l.split("\t", 1)[1] for l in opened_lines(log) if l.startswith("mpv\t")]
            check(played == [alive], "opened %r, not the second address %s" % (played, alive))
            app.key("Escape")
            check(app.wait_exit() == 0, "Esc")
        finally:
            app.stop()

        # Inside the window: the preview, then Enter, play the second address.
        scale = float(harness.read(folder, "VESTRALUME/n/u.txt").split()[0])
        app = harness.Quillon(server, args.quillon, folder,
                              {"QUILLON_AUDIO_OUTPUT": "null", "QUILLON_PLAY_IN_WINDOW": "yes"})
        try:
            wait_until(lambda: share_close(tile_pixels(app.screenshot(), scale, 1), COLOURS["red"]) > 0.6,
                       20, 0.3, "tile 1 to preview the second address")
            app.key("Return")
            wait_until(lambda: harness.close_colour(centre_colour(app.screenshot()), COLOURS["red"], 50),
                       15, 0.2, "the second address to fill the window")
            app.screenshot(os.path.join(folder, "alternative-watched.png"))
            check(stream.asked("red"), "the stream was never asked for")
            app.key("Escape", "Escape")
            check(app.wait_exit() == 0, "Esc")
        finally:
            app.stop()

        # Two servers that never answer before the one that plays: they take
        # 1.5 s each, and meanwhile the wall moves on a key (sent 0.3 s after
        # Enter); the player gets the third address afterwards.
        quiet_sockets = []
        try:
            lines = ["#EXTM3U"]
            for n in range(2):
                address, sockets = silent_address()
                quiet_sockets += sockets
                lines += ['#EXTINF:-1 group-title="Movies",Quiet Film %s' % ("HD", "SD")[n], address]
            lines += ['#EXTINF:-1 group-title="Movies",Quiet Film FHD', alive]
            quiet = os.path.join(folder, "quiet.m3u")
            with open(quiet, "w") as f:
                f.write("\n".join(lines) + "\n")
            status, output = run_import(args, folder, quiet)
            check(status == 0 and "2 entries merged" in output, "the quiet film:\n" + output)
            add_start_recorder(stub_dir, log)
            os.remove(log)
            harness.write(folder, "VESTRALUME/n/b.txt", "1")
            app = harness.Quillon(server, args.quillon, folder, env)
            try:
                harness.wait_settled(folder, quiet=1.0)
                app.key("Return")
                time.sleep(0.3)
                app.key("Right")
                wait_until(lambda: [l for l in opened_lines(log) if l.startswith("mpv\t")], 20, 0.1,
                           "Enter on the quiet film")
                played = [l.split("\t")[1:] for l in opened_lines(log) if l.startswith("mpv\t")]
                check([address for address, _ in played] == [alive],
                      "opened %r, not the third address %s" % (played, alive))
                check(harness.read(folder, "VESTRALUME/n/b.txt") == "2", "Right during the tries")
                # The key moved the selection while the servers were tried,
                # not after the player was started.
                moved = os.stat(os.path.join(folder, "VESTRALUME/n/b.txt")).st_mtime
                started = float(played[0][1])
                check(started - moved > 1.0,
                      "the selection moved %.2f s before the player started: the wall waited "
                      "for the servers" % (started - moved))
                app.key("Escape")
                check(app.wait_exit() == 0, "Esc")
            finally:
                app.stop()
        finally:
            for s in quiet_sockets:
                s.close()
    finally:
        stream.close()


if __name__ == "__main__":
    harness.main(test)
