"""The channel wall as the user sees it: on a data root whose thumbnails are
solid colours, every tile shows the thumbnail of its page number at the place
its scale gives, the selected tile carries the selection frame, changes of
b.txt and u.txt on disk show in the next frames, and dragging the mouse
leaves the wall where it was."""

import os

import harness
from harness import check, close_colour, tile_point, wait_until


def page_colours_shown(app, scale, first, list_number=1):
    shot = app.screenshot()
    wrong = []
    for tile in range(1, 17):
        x, y = tile_point(scale, tile)
        want = harness.channel_colour(list_number, first + tile - 1)
        got = shot.average(x, y, 2)
        if not close_colour(got, want):
            wrong.append((tile, got, want))
    return wrong


def wait_for_page(app, scale, first, list_number=1, timeout=40):
    last = []

    def shown():
        last[:] = page_colours_shown(app, scale, first, list_number)
        return not last
    try:
        wait_until(shown, timeout, 0.3, "the page starting at %d" % first)
    except harness.Failure:
        raise harness.Failure("tiles not showing their thumbnails (tile, seen, wanted): %s"
                              % last)


def ring(scale, tile):
    """Points around a tile's edge, where the selection frame lies."""
    points = []
    for dx in (-3.1, -1.5, 0, 1.5, 3.1):
        for dy in (-1.75, 1.75):
            points.append(tile_point(scale, tile, dx, dy))
    for dy in (-1.0, 0, 1.0):
        for dx in (-3.2, 3.2):
            points.append(tile_point(scale, tile, dx, dy))
    return points


def ring_colours(shot, scale, tile):
    return [shot.average(x, y, 1) for x, y in ring(scale, tile)]


def changed(a, b):
    return sum(1 for p, q in zip(a, b) if not close_colour(p, q, 30))


def test(args, server, folder):
    harness.make_fixture_root(args, folder)
    scale = float(harness.read(folder, "VESTRALUME/n/u.txt"))
    harness.write(folder, "VESTRALUME/n/b.txt", "6")
    app = harness.Quillon(server, args.quillon, folder)
    try:
        wait_for_page(app, scale, 1)
        app.screenshot(os.path.join(folder, "wall-default.png"))

        # The mark: tile 6's edge changes when the selection moves to tile 7,
        # and tile 7's edge changes the other way.
        selected6 = app.screenshot()
        harness.write(folder, "VESTRALUME/n/b.txt", "7")
        wait_until(lambda: changed(ring_colours(app.screenshot(), scale, 7),
                                   ring_colours(selected6, scale, 7)) > 8,
                   10, 0.2, "the mark to move to tile 7")
        selected7 = app.screenshot()
        check(changed(ring_colours(selected6, scale, 6), ring_colours(selected7, scale, 6)) > 8,
              "tile 6 kept its mark after the selection moved")
        check(not page_colours_shown(app, scale, 1), "the mark covered tile centres")

        # Tiles 13 to 16 are marked when the file says so.
        harness.write(folder, "VESTRALUME/n/b.txt", "15")
        wait_until(lambda: changed(ring_colours(app.screenshot(), scale, 15),
                                   ring_colours(selected7, scale, 15)) > 8,
                   10, 0.2, "the mark on tile 15")

        # A new wall scale moves the wall in the next frames.
        for new_scale in ("2", "1.55", str(scale)):
            harness.write(folder, "VESTRALUME/n/u.txt", new_scale)
            wait_for_page(app, float(new_scale), 1, timeout=10)
            app.screenshot(os.path.join(folder, "wall-%s.png" % new_scale))

        # Dragging turns the camera but the wall stays where it was.
        before = app.screenshot()
        app.drag(900, 500, 1300, 700)
        app.drag(900, 500, 600, 200, button=3)
        after = app.screenshot()
        centres = [tile_point(scale, t) for t in range(1, 17)]
        moved = [t + 1 for t, (x, y) in enumerate(centres)
                 if not close_colour(before.average(x, y, 2), after.average(x, y, 2), 10)]
        check(not moved, "tiles changed after dragging: %s" % moved)
        check(app.alive(), "the program ended")
    finally:
        app.stop()


if __name__ == "__main__":
    harness.main(test)
