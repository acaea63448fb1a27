"""Channels play inside the window, in the real program under Xvfb with
libmpv (sound to the null output). Four local HLS streams, each a colour
of its own with a white square moving across it, are imported with
quillon-import as a catalogue of 14 channels (the four colours in turn, so
that zapping moves the page too). Resting on a tile plays its channel in the tile (its
colour, the square moving) and moving away stops it (the server sees no
more requests and no open connection). Enter fills the window with the
channel; Page Down zaps to the next one within 3 s, writing the wall's
selection; Page Up goes round from the first channel to the last, scrolling
the wall's page there; three digits switch to a channel; Esc shows the wall with the
selection on the channel ended on, and a second Esc ends the program with
status 0."""

import os
import time

import harness
from harness import check, wait_until
from watch_streams import (COLOURS, StreamServer, centre_colour, import_channels, make_stream,
                           share_close, tile_pixels, white_columns)

NAMES = ["red", "green", "blue", "yellow"]
COUNT = 14


def colour_of(channel):
    return COLOURS[NAMES[(channel - 1) % len(NAMES)]]


def page_first(folder):
    return int(harness.read(folder, "VESTRALUME/n/z1.txt").split()[0])


def test(args, server, folder):
    www = os.path.join(folder, "www")
    for name in NAMES:
        make_stream(www, name, 20)
    streams = StreamServer(www)
    import_channels(args, folder, [("Channel %d %s" % (c, NAMES[(c - 1) % 4]),
                                    streams.address(NAMES[(c - 1) % 4]))
                                   for c in range(1, COUNT + 1)])
    shots = os.path.join(args.build, "e2e-watch")
    os.makedirs(shots, exist_ok=True)
    scale = float(harness.read(folder, "VESTRALUME/n/u.txt").split()[0])

    app = harness.Quillon(server, args.quillon, folder, {"QUILLON_AUDIO_OUTPUT": "null", "QUILLON_PLAY_IN_WINDOW": "yes"})
    try:
        # Preview: tile 1 plays red, its square moving.
        def tile_plays(tile, name):
            image = app.screenshot()
            return share_close(tile_pixels(image, scale, tile), COLOURS[name]) > 0.6 and image
        wait_until(lambda: tile_plays(1, "red"), 15, 0.3, "tile 1 to play its channel")
        app.screenshot(os.path.join(shots, "preview.png"))
        places = set()
        for _ in range(8):
            place = white_columns(app.screenshot(), scale, 1)
            if place is not None:
                places.add(round(place))
            time.sleep(0.2)
        check(len(places) >= 3, "the square in tile 1 moves: seen at %r" % sorted(places))
        check(wait_until(lambda: len(streams.asked("red")) >= 3, 10, 0.2, "segments of red"),
              "the preview fetches its stream")

        # Moving away stops it: no more requests, no connection left open.
        app.key("Right")
        wait_until(lambda: tile_plays(2, "green"), 15, 0.3, "tile 2 to play its channel")
        time.sleep(1.0)
        asked = len(streams.asked("red"))
        time.sleep(2.5)
        check(len(streams.asked("red")) == asked and streams.connections("red") == 0,
              "red is still fetched after the selection moved away")
        check(share_close(tile_pixels(app.screenshot(), scale, 1), COLOURS["red"]) < 0.2,
              "tile 1 still shows its channel")

        # Watching: Enter fills the window; the launch counter moves on.
        app.key("Left")
        time.sleep(0.3)
        app.key("Return")
        wait_until(lambda: harness.close_colour(centre_colour(app.screenshot()), COLOURS["red"], 50),
                   10, 0.2, "red to fill the window")
        check(harness.read(folder, "VESTRALUME/n/h.txt").strip() == "3",
              "Enter moved the launch counter on")
        app.screenshot(os.path.join(shots, "watching.png"))

        # Page Down: the next channel within 3 s, the wall's selection with it.
        app.key("Next")
        started = time.monotonic()
        wait_until(lambda: harness.close_colour(centre_colour(app.screenshot()),
                                                COLOURS["green"], 50),
                   3, 0.1, "green within 3 s of Page Down")
        print("Page Down to the next channel's picture: %.2f s" % (time.monotonic() - started))
        check(harness.read(folder, "VESTRALUME/n/b.txt").strip() == "2",
              "the wall's selection followed the zap")
        check(page_first(folder) == 1, "the page stays where channel 2 shows")
        # Page Up goes round from the first channel to the last: the page
        # scrolls to the last one (channels 5 to 20, 14 on tile 10).
        app.key("Prior")
        wait_until(lambda: harness.close_colour(centre_colour(app.screenshot()), colour_of(1), 50),
                   5, 0.1, "channel 1 after Page Up")
        app.key("Prior")
        wait_until(lambda: page_first(folder) == 5, 5, 0.1, "the page of the last channel")
        wait_until(lambda: harness.close_colour(centre_colour(app.screenshot()), colour_of(14), 50),
                   5, 0.1, "channel 14 after going back past the first channel")
        check(harness.read(folder, "VESTRALUME/n/b.txt").strip() == "10", "selection on tile 10")

        # Three digits switch.
        app.key("0", "0", "3")
        wait_until(lambda: harness.close_colour(centre_colour(app.screenshot()),
                                                COLOURS["blue"], 50),
                   8, 0.2, "blue after typing 003")
        check(harness.read(folder, "VESTRALUME/n/b.txt").strip() == "3" and page_first(folder) == 1,
              "the wall's page and selection on channel 3")

        # Esc: the wall, the selection on channel 3, playing on in its tile.
        app.key("Escape")
        wait_until(lambda: tile_plays(3, "blue"), 10, 0.3, "the wall with tile 3 playing")
        app.screenshot(os.path.join(shots, "back-on-the-wall.png"))
        check(app.alive(), "the first Esc ended the program")
        app.key("Escape")
        status = app.wait_exit(20)
        check(status == 0, "the second Esc ended the program with status %s" % status)
        reports = harness.sanitizer_reports(app.output())
        check(not reports, "sanitizer reports:\n" + "\n".join(reports))
    finally:
        app.stop()
        streams.close()


if __name__ == "__main__":
    harness.main(test)
