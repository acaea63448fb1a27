"""Arrow keys, Page Down and Page Up sent to the real program: the state
files change as the selection table says and the wall shows the new page."""

import os

import harness
from harness import check, read, wait_until
from test_wall import wait_for_page


def page(first):
    return "\n".join(str(first + i) for i in range(16))


def test(args, server, folder):
    harness.make_fixture_root(args, folder, channels=range(1, 41))
    scale = float(read(folder, "VESTRALUME/n/u.txt"))
    harness.write(folder, "VESTRALUME/n/b.txt", "1")
    harness.write(folder, "VESTRALUME/n/z1.txt", page(1))
    app = harness.Quillon(server, args.quillon, folder)
    try:
        wait_for_page(app, scale, 1)

        def state(name):
            return read(folder, "VESTRALUME/n/" + name)

        def expect(name, text, what):
            wait_until(lambda: state(name) == text, 10, 0.1, what)

        app.key("Down", "Down")
        expect("b.txt", "9", "DOWN twice to select tile 9")
        check(state("z1.txt") == page(1), "no scroll inside the selectable rows")
        app.key("Down")
        expect("z1.txt", page(5), "DOWN on the third row to scroll forward")
        check(state("b.txt") == "9" and state("nn.txt") == "1", "selection and direction")
        wait_for_page(app, scale, 5)

        app.key("Next")
        expect("z1.txt", page(9), "Page Down")
        wait_for_page(app, scale, 9)
        app.screenshot(os.path.join(folder, "after-page-down.png"))

        app.key("Right", "Right", "Right")
        expect("b.txt", "12", "RIGHT to tile 12")
        app.key("Right")
        expect("z1.txt", page(13), "RIGHT on tile 12 to scroll forward")
        check(state("b.txt") == "9", "RIGHT on tile 12 selects tile 9")
        wait_for_page(app, scale, 13)

        app.key("Prior", "Prior", "Prior")
        expect("z1.txt", page(1), "Page Up three times")
        check(state("nn.txt") == "2", "the direction of the last scroll is back")
        wait_for_page(app, scale, 1)
        app.key("Prior")
        app.key("Up", "Up", "Up")
        expect("b.txt", "1", "UP to the first row")
        check(state("z1.txt") == page(1), "no scroll before the first page")
        app.key("Left")
        expect("b.txt", "4", "LEFT on tile 1 selects tile 4")
        check(state("z1.txt") == page(1), "the first page stays")
        check(app.alive(), "the program ended")
    finally:
        app.stop()


if __name__ == "__main__":
    harness.main(test)
