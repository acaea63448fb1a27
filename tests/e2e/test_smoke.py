"""Starts the real program on the sample data root: its window is titled
"Quillon" and has the size of the screen, it draws, and Esc ends it with
status 0."""

import os

import harness
from harness import check, wait_until


def test(args, server, folder):
    if os.path.exists(os.path.join(args.build, "tools", "quillon-make-data")):
        harness.make_sample_root(args, folder)
    app = harness.Quillon(server, args.quillon, folder)
    try:
        width, height = app.geometry()
        check((width, height) == (harness.SCREEN_W, harness.SCREEN_H),
              "window is %dx%d, screen is %dx%d" % (width, height, harness.SCREEN_W,
                                                    harness.SCREEN_H))
        def drawn():
            shot = app.screenshot()
            centre = shot.average(width // 2, height // 2, 20)
            return shot if sum(centre) > 60 else None
        shot = wait_until(drawn, 30, 0.3, "the wall to be drawn")
        app.screenshot(os.path.join(folder, "smoke.png"))
        check((shot.width, shot.height) == (harness.SCREEN_W, harness.SCREEN_H), "screenshot size")
        app.key("Escape")
        status = app.wait_exit()
        check(status == 0, "Esc ended the program with status %s" % status)
    finally:
        app.stop()


if __name__ == "__main__":
    harness.main(test)
