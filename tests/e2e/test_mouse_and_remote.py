"""The mouse and the remote-control habits on the real program: a click
selects the selectable tile under the pointer at two wall scales, the bottom
row, the space beside the wall and a drag change nothing, a double-click
opens the tile's channel (a stand-in desktop handler records it), the wheel
scrolls a row a notch, Home and End reach the ends of the list in one build
each, and digits typed one after another go to that channel after a pause."""

import os
import time

import harness
from harness import check, read, tile_point, wait_until
from test_evening import link_table, make_recorder, opened_lines
from test_wall import wait_for_page


def page(first):
    return "\n".join(str(first + i) for i in range(16))


def test(args, server, folder):
    harness.make_fixture_root(args, folder, channels=range(1, 41))
    harness.write(folder, "VESTRALUME/n/b.txt", "1")
    harness.write(folder, "VESTRALUME/n/z1.txt", page(1))
    harness.write(folder, "VESTRALUME/n/h.txt", "5")  # no product page on these launches
    harness.write(folder, "VESTRALUME/n/1c.txt", "1")
    harness.write(folder, "VESTRALUME/n/2c.txt", "1")
    stub_dir, log = make_recorder(folder)
    links = link_table(folder)
    app = harness.Quillon(server, args.quillon, folder,
                          {"PATH": stub_dir + ":" + os.environ["PATH"]})

    def state(name):
        return read(folder, "VESTRALUME/n/" + name)

    def expect(name, text, what, timeout=10):
        wait_until(lambda: state(name) == text, timeout, 0.05, what)

    last_click = [None]

    def click_at(x, y, repeat=1, tile=None):
        # Two single clicks on one tile in quick succession would make a
        # double-click: the second waits.
        if repeat == 1 and tile is not None and tile == last_click[0]:
            time.sleep(0.5)
        last_click[0] = tile
        server.run("xdotool", "mousemove", "--window", app.window, str(int(x)), str(int(y)),
                   "click", "--repeat", str(repeat), "--delay", "120", "1")

    def click(scale, tile, repeat=1):
        click_at(*tile_point(scale, tile), repeat=repeat, tile=tile)

    def wheel(notches, down):
        server.run("xdotool", "mousemove", "--window", app.window, "960", "540",
                   "click", "--repeat", str(notches), "--delay", "80", "5" if down else "4")

    def unchanged_after(action, what, marker_tile, scale):
        """Runs `action`, then clicks `marker_tile`: once the marker's
        selection shows, every earlier event has been handled, and nothing
        but the selection may have changed."""
        before = harness.state_snapshot(folder)
        action()
        click(scale, marker_tile)
        expect("b.txt", str(marker_tile), "the marker click after " + what)
        after = harness.state_snapshot(folder)
        changed = sorted(name for name in set(before) | set(after)
                         if before.get(name) != after.get(name) and name != "b.txt")
        check(not changed, "%s changed %s" % (what, changed))

    def counter(name):
        return int(state(name))

    try:
        scale = float(state("u.txt"))
        wait_for_page(app, scale, 1)

        # A click selects each selectable tile, at two scales in different
        # placement bands; nothing scrolls.
        for wall_scale in (scale, 2.35):
            if wall_scale != scale:
                harness.write(folder, "VESTRALUME/n/u.txt", "%g" % wall_scale)
                wait_for_page(app, wall_scale, 1)
            for tile in (6, 1, 2, 3, 4, 8, 7, 5, 9, 10, 11, 12):
                click(wall_scale, tile)
                expect("b.txt", str(tile), "a click on tile %d at scale %g" % (tile, wall_scale))
            check(state("z1.txt") == page(1), "clicks scroll nothing")
            if wall_scale == scale:
                # Near the corners of a tile, and on the rim around its picture.
                for dx, dy, tile in ((-3.0, 1.6, 3), (3.0, -1.6, 10), (-3.15, -1.75, 7)):
                    click_at(*tile_point(wall_scale, tile, dx, dy), tile=tile)
                    expect("b.txt", str(tile), "a click near a corner of tile %d" % tile)
        harness.write(folder, "VESTRALUME/n/u.txt", "%g" % scale)
        wait_for_page(app, scale, 1)
        click(scale, 5)
        expect("b.txt", "5", "a click on tile 5")
        app.screenshot(os.path.join(folder, "after-click-tile-5.png"))

        # The bottom row, the space beside the wall and a drag change nothing.
        unchanged_after(lambda: [click(scale, tile) for tile in (13, 14, 15, 16)],
                        "clicks on the bottom row", 2, scale)
        unchanged_after(lambda: [click_at(5, 5), click_at(1900, 1060), click_at(960, 1070)],
                        "clicks beside the wall", 3, scale)
        x0, y0 = tile_point(scale, 6)
        x1, y1 = tile_point(scale, 11)
        unchanged_after(lambda: app.drag(int(x0), int(y0), int(x1), int(y1)),
                        "a drag from tile 6 to tile 11", 4, scale)

        # A double-click opens the tile's channel, as Enter does.
        click(scale, 7, repeat=2)
        expect("h.txt", state("6.txt"), "the double-click advances the launch counter")
        wait_until(lambda: opened_lines(log), 15, 0.1, "the double-click to open a channel")
        time.sleep(0.5)
        link = int(read(folder, "VESTRALUME/1/7.txt").split()[0])
        check(opened_lines(log) == ["1\t" + links[link]],
              "the double-click on tile 7 opened %r" % opened_lines(log))
        os.remove(log)
        check(state("b.txt") == "7", "the double-clicked tile is selected")

        # The wheel: a notch down scrolls forward a row, up back, as the keys.
        forward_builds = counter("2c.txt")
        wheel(1, down=True)
        expect("z1.txt", page(5), "a notch down")
        check(state("nn.txt") == "1" and state("b.txt") == "7", "direction and selection")
        check(counter("2c.txt") == forward_builds + 1, "one build")
        check(state("n1.txt") == "VESTRALUME/1/5.Quillon", "the tiles' paths")
        wait_for_page(app, scale, 5)
        wheel(3, down=True)
        expect("z1.txt", page(17), "three notches down")
        back_builds = counter("1c.txt")
        wheel(2, down=False)
        expect("z1.txt", page(9), "two notches up")
        check(state("nn.txt") == "2" and counter("1c.txt") == back_builds + 2, "two builds back")
        wait_for_page(app, scale, 9)

        # End and Home: the ends of the list in one build each, the
        # selection staying.
        forward_builds = counter("2c.txt")
        app.key("End")
        expect("z1.txt", page(1989), "End")
        check(state("nn.txt") == "1" and state("b.txt") == "7", "End: direction and selection")
        time.sleep(0.5)
        check(counter("2c.txt") == forward_builds + 1, "End builds once")
        check(state("n16.txt") == "VESTRALUME/1/2004.Quillon", "the last page's tiles")
        back_builds = counter("1c.txt")
        app.key("Home")
        expect("z1.txt", page(1), "Home")
        time.sleep(0.5)
        check(state("nn.txt") == "2" and counter("1c.txt") == back_builds + 1, "Home builds once")
        wait_for_page(app, scale, 1)

        # 1-9-8-9 from the first page: after the pause the wall shows
        # channel 1989, selected on the third row.
        app.key("1", "9", "8", "9", delay_ms=150)
        sent = time.monotonic()
        time.sleep(0.9)
        check(state("z1.txt") == page(1) and state("b.txt") == "7",
              "the wall waits for the pause after the last digit")
        expect("z1.txt", page(1981), "the typed channel's page", timeout=15)
        expect("b.txt", "9", "channel 1989 selected")
        check(time.monotonic() - sent >= 1.3, "the jump came after the pause")
        check(state("n9.txt") == "VESTRALUME/1/1989.Quillon", "tile 9 shows channel 1989")
        time.sleep(1.5)
        app.screenshot(os.path.join(folder, "after-typing-1989.png"))

        # A number past the end of the list does nothing.
        unchanged_after(lambda: (app.key("2", "0", "0", "5"), time.sleep(2.5)),
                        "typing 2005", 10, scale)

        # Enter during the pause: the typed channel first, then opened. From
        # the page starting at 1981, the nearest page showing 27 on a
        # selectable row starts at 25.
        app.key("2", "7", "Return")
        expect("z1.txt", page(25), "Enter ends the pause at once")
        expect("b.txt", "3", "channel 27 selected")
        wait_until(lambda: opened_lines(log), 15, 0.1, "Enter to open channel 27")
        time.sleep(0.5)
        link = int(read(folder, "VESTRALUME/1/27.txt").split()[0])
        check(opened_lines(log) == ["1\t" + links[link]],
              "Enter after 2-7 opened %r" % opened_lines(log))
        check(app.alive(), "the program ended")
        reports = harness.sanitizer_reports(app.output())
        check(not reports, "sanitizer reports: %s" % reports)
    finally:
        app.stop()


if __name__ == "__main__":
    harness.main(test)
