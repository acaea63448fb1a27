"""A user's evening with the real program: scrolling and moving the
selection, zooming, adding two favourites, switching lists back and forth,
opening channels with Enter (a stand-in desktop handler first on PATH records
what is opened), removing the newest favourite and quitting with Esc. A
second start shows the catalogue exactly as it was left, and every state
file and favourite is where the evening left it."""

import os
import time

import harness
from harness import check, read, wait_until

PRODUCT_PAGE = "https://quillon.example/"


def link_table(folder):
    table = {}
    with open(os.path.join(folder, "VESTRALUME/links.tsv"), encoding="ascii") as f:
        for line in f:
            line = line.rstrip("\r\n")
            if not line.strip() or line.lstrip().startswith("#"):
                continue
            number, address = line.split("\t", 1)
            table.setdefault(int(number), address)
    return table


def make_recorder(folder):
    """A stand-in xdg-open that appends its argument count and first argument
    to opened.txt. Returns the folder to put first on PATH."""
    stub_dir = os.path.join(folder, "stub-bin")
    os.makedirs(stub_dir)
    log = os.path.join(folder, "opened.txt")
    stub = os.path.join(stub_dir, "xdg-open")
    with open(stub, "w") as f:
        f.write("#!/bin/sh\nprintf '%%s\\t%%s\\n' \"$#\" \"$1\" >> '%s'\n" % log)
    os.chmod(stub, 0o755)
    return stub_dir, log


def opened_lines(log):
    if not os.path.exists(log):
        return []
    with open(log, encoding="utf-8", errors="replace") as f:
        return [line.rstrip("\n") for line in f]


def stamp(folder, relative):
    """Changes whenever the program replaces the file (it writes a new file
    and renames it over the old one)."""
    info = os.stat(os.path.join(folder, relative))
    return (info.st_ino, info.st_mtime_ns, info.st_size)


def settled_screen(app, what, timeout=90):
    """The screen once two screenshots a moment apart are identical: the
    thumbnail refresh has finished."""
    previous = [None]

    def still():
        shot = app.screenshot()
        same = previous[0] is not None and shot.data == previous[0].data
        previous[0] = shot
        return shot if same else None
    return wait_until(still, timeout, 0.5, what)


def differing_share(a, b, step=7, tolerance=40):
    da, db = a.data[::step], b.data[::step]
    differing = sum(1 for x, y in zip(da, db) if abs(x - y) > tolerance)
    return differing / max(1, len(da))


def test(args, server, folder):
    harness.make_sample_root(args, folder)
    stub_dir, log = make_recorder(folder)
    env = {"PATH": stub_dir + ":" + os.environ["PATH"]}
    links = link_table(folder)

    def state(name):
        return read(folder, "VESTRALUME/n/" + name)

    def number(name):
        return int(state(name).split()[0])

    def page(list_number):
        return [int(n) for n in state("z%d.txt" % list_number).split()]

    def data(relative):
        with open(os.path.join(folder, "VESTRALUME", relative), "rb") as f:
            return f.read()

    def press(app, key, changed_file, what):
        """Presses `key` and waits until the program has replaced `changed_file`."""
        before = stamp(folder, "VESTRALUME/n/" + changed_file)
        app.key(key)
        wait_until(lambda: stamp(folder, "VESTRALUME/n/" + changed_file) != before,
                   15, 0.05, what)

    def expect_opened(expected, what):
        wait_until(lambda: len(opened_lines(log)) >= len(expected), 15, 0.1, what)
        time.sleep(0.5)  # nothing more should come
        lines = opened_lines(log)
        os.remove(log)
        check(all(line.startswith("1\t") for line in lines),
              "the handler gets exactly one argument: %r" % lines)
        got = sorted(line.split("\t", 1)[1] for line in lines)
        check(got == sorted(expected), "%s: opened %r, expected %r" % (what, got, expected))

    def channel_address(list_number, channel):
        link = int(read(folder, "VESTRALUME/%d/%d.txt" % (list_number, channel)).split()[0])
        check(link in links, "link number %d of channel %d has an address" % (link, channel))
        return links[link]

    check(state("d.txt") == "0" and number("h.txt") == 1 and page(1)[0] == 1,
          "the sample root starts with no favourites, launch count 1, the first page")

    app = harness.Quillon(server, args.quillon, folder, env)
    try:
        settled_screen(app, "the first page")

        # Scrolling and moving the selection.
        press(app, "Next", "z1.txt", "Page Down scrolls")
        check(page(1)[0] == 5, "Page Down moves the page by a row: %r" % page(1))
        for _ in range(3):
            press(app, "Down", "b.txt" if number("b.txt") <= 8 else "z1.txt", "Down")
        check(page(1)[0] == 9 and number("b.txt") == 9,
              "Down twice to the third row, then a scroll: page %r, tile %s"
              % (page(1)[:1], state("b.txt")))
        press(app, "Right", "b.txt", "Right")
        scale = float(state("u.txt"))
        press(app, "F2", "u.txt", "F2 grows the wall")
        check(abs(float(state("u.txt")) - (scale + 0.05)) < 1e-4,
              "wall scale %s after F2 from %s" % (state("u.txt"), scale))

        # Two favourites: the selected catalogue channels become favourites 1 and 2.
        first = page(1)[number("b.txt") - 1]
        press(app, "a", "d.txt", "a adds a favourite")
        check(state("d.txt") == "1", "one favourite")
        check(data("2/1.Quillon") == data("1/%d.Quillon" % first)
              and data("2/1.txt") == data("1/%d.txt" % first),
              "favourite 1 is a byte copy of channel %d" % first)
        press(app, "BackSpace", "n1.txt", "Backspace back to the catalogue")
        press(app, "Left", "b.txt", "Left")
        second = page(1)[number("b.txt") - 1]
        check(second != first, "another channel is selected")
        catalogue_shown = settled_screen(app, "the catalogue")
        press(app, "a", "d.txt", "a adds a second favourite")
        check(state("d.txt") == "2", "two favourites")
        check(data("2/2.Quillon") == data("1/%d.Quillon" % second)
              and data("2/2.txt") == data("1/%d.txt" % second),
              "favourite 2 is a byte copy of channel %d" % second)
        check(read(folder, "VESTRALUME/n/n1b.txt") == "VESTRALUME/2/%d.Quillon" % page(2)[0],
              "the favourites' page was built")
        # The wall shows the favourites now: favourite 1 (channel `first`) on
        # tile 1 where the catalogue showed channel 9's thumbnail.
        favourites_shown = settled_screen(app, "the favourites")
        app.screenshot(os.path.join(folder, "favourites.png"))
        check(differing_share(catalogue_shown, favourites_shown) > 0.05,
              "the wall changed to the favourites")

        # Switching lists and back.
        press(app, "BackSpace", "n1.txt", "Backspace to the catalogue")
        press(app, "BackSpace", "n1b.txt", "Backspace to the favourites")
        press(app, "BackSpace", "n1.txt", "Backspace to the catalogue again")

        # Enter on launch count 1: the product page, then the channel.
        selected = page(1)[number("b.txt") - 1]
        press(app, "Return", "h.txt", "Enter advances the launch count")
        check(number("h.txt") == 2, "launch count 2")
        expect_opened([PRODUCT_PAGE, channel_address(1, selected)], "Enter on launch count 1")
        check(state("npt.txt") == "VESTRALUME/1/%d.txt" % selected, "npt.txt names the link file")

        # In the favourites, Enter on favourite 1 opens the first channel's address.
        press(app, "BackSpace", "n1b.txt", "Backspace to the favourites")
        while number("b.txt") > 4:
            press(app, "Up", "b.txt", "Up")
        while number("b.txt") > 1:
            press(app, "Left", "b.txt", "Left")
        press(app, "Return", "h.txt", "Enter in the favourites")
        expect_opened([channel_address(1, first)], "Enter on favourite 1")
        check(state("npt.txt") == "VESTRALUME/2/%d.txt" % page(2)[0], "favourite's link file")

        # Delete removes the newest favourite: blank thumbnail, link file kept.
        second_link = data("2/2.txt")
        press(app, "Delete", "d.txt", "Delete removes the newest favourite")
        check(state("d.txt") == "1", "one favourite left")
        check(state("dd.txt") == "VESTRALUME/2/2.Quillon", "dd.txt names the removed favourite")
        check(data("2/2.Quillon") == data("i/1.jpg"), "the removed favourite is blank")
        check(data("2/2.txt") == second_link, "its link file stays")

        press(app, "BackSpace", "n1.txt", "Backspace to the catalogue before quitting")
        before = settled_screen(app, "the catalogue before quitting")
        app.screenshot(os.path.join(folder, "before-quit.png"))
        left = {name: state(name) for name in
                ("z1.txt", "z2.txt", "b.txt", "u.txt", "d.txt", "dd.txt", "h.txt")}
        favourites = {name: data(name) for name in
                      ("2/1.Quillon", "2/1.txt", "2/2.Quillon", "2/2.txt")}

        app.key("Escape")
        status = app.wait_exit()
        check(status == 0, "Esc ends the program with status 0, not %s" % status)
        output = app.output()
    finally:
        app.stop()
    check("Diretório de URLs" not in output and "Impossível" not in output,
          "no loader or URL directory reports:\n" + output)

    # The next evening: everything as it was left.
    app = harness.Quillon(server, args.quillon, folder, env)
    try:
        after = settled_screen(app, "the catalogue after the restart")
        app.screenshot(os.path.join(folder, "after-restart.png"))
        share = differing_share(before, after)
        check(share < 0.01, "the restarted wall differs from the one left in %.1f%% of "
              "the screen" % (share * 100))
        for name, text in left.items():
            check(state(name) == text, "%s is %r after the restart, was %r"
                  % (name, state(name), text))
        for name, content in favourites.items():
            check(data(name) == content, "favourite file %s changed" % name)
        check(not opened_lines(log), "nothing opened on start-up")
        app.key("Escape")
        check(app.wait_exit() == 0, "Esc ends the second run with status 0")
    finally:
        app.stop()


if __name__ == "__main__":
    harness.main(test)
