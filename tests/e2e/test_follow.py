"""The wall follows imports that run beside it: with the program running,
another playlist is imported; within 2 s Enter on tile 1 opens the new first
channel (a stand-in mpv records what opens), the page is kept inside the new
count, and a favourite opens what it opened before. An import killed with
SIGKILL while the program runs leaves the wall on the old catalogue and the
root sound. Two imports, or a second program, still never meet."""

import os
import subprocess
import time

import harness
from harness import check, wait_until
from test_evening import make_recorder, opened_lines
from test_import import add_player_recorder, expect_sound, page, playlist, run_import


def played(log):
    return [line.split("\t", 1)[1] for line in opened_lines(log) if line.startswith("mpv\t")]


def enter_opens(app, log, what):
    """Enter on the selected tile; the address the stand-in mpv was given."""
    if os.path.exists(log):
        os.remove(log)
    app.key("Return")
    return wait_until(lambda: (played(log) or [None])[0], 15, 0.1, what)


def test(args, server, folder):
    harness.make_sample_root(args, folder)
    stub_dir, log = make_recorder(folder)
    add_player_recorder(stub_dir, log)
    env = {"PATH": stub_dir + ":" + os.environ["PATH"]}
    paths = {}
    for name, prefix, count in (("alpha", "alpha", 30), ("beta", "beta", 18),
                                ("big", "gamma", 4000)):
        paths[name] = os.path.join(folder, name + ".m3u")
        with open(paths[name], "w") as f:
            f.write(playlist(prefix, count))
    status, output = run_import(args, folder, paths["alpha"])
    check(status == 0, "the first import failed:\n" + output)
    harness.write(folder, "VESTRALUME/n/b.txt", "1")

    app = harness.Quillon(server, args.quillon, folder, env)
    try:
        harness.wait_settled(folder, quiet=1.0)
        check(enter_opens(app, log, "Enter on alpha 1") == "https://alpha.example/live/1/index.m3u8",
              "the first catalogue")
        app.key("a")  # channel 1 becomes favourite 1, and the favourites show
        wait_until(lambda: harness.read(folder, "VESTRALUME/n/d.txt") == "1", 15, 0.1,
                   "the favourite to be added")
        app.key("BackSpace", "End")
        wait_until(lambda: page(folder)[0] == 21, 15, 0.1, "the last page of 30 channels")
        harness.wait_settled(folder, quiet=1.0)
        scale = harness.read(folder, "VESTRALUME/n/u.txt")
        counter = harness.read(folder, "VESTRALUME/n/h.txt")

        # Another playlist while the program runs.
        status, output = run_import(args, folder, paths["beta"])
        print(output)
        switched = time.monotonic()
        check(status == 0 and "Imported 18 channels" in output, "the import beside the wall:\n" + output)
        check(app.alive(), "the program ended during the import")
        check(page(folder)[0] == 9, "the page was not kept inside 18 channels: %r" % page(folder))
        app.key("Home")
        wait_until(lambda: page(folder)[0] == 1, 15, 0.05, "Home")
        time.sleep(max(0.0, switched + 1.2 - time.monotonic()))
        check(enter_opens(app, log, "Enter on beta 1") == "https://beta.example/live/1/index.m3u8",
              "Enter on tile 1 did not open the new first channel")
        check(harness.read(folder, "VESTRALUME/n/u.txt") == scale, "the wall scale changed")
        check(harness.read(folder, "VESTRALUME/n/d.txt") == "1", "the favourites count changed")
        check(harness.read(folder, "VESTRALUME/n/h.txt") != counter, "Enter counts launches")
        app.screenshot(os.path.join(folder, "followed.png"))
        app.key("BackSpace")  # the favourites
        harness.wait_settled(folder, quiet=0.5)
        check(enter_opens(app, log, "Enter on the favourite") ==
              "https://alpha.example/live/1/index.m3u8", "the favourite opens another address")
        app.key("BackSpace")

        # An import killed while the program runs: the wall goes on with the
        # catalogue it had, the root stays sound.
        command = [os.path.join(args.build, "tools", "quillon-import"), "--root", folder, "--wait",
                   paths["big"]]
        importer_env = dict(os.environ, XDG_CACHE_HOME=os.path.join(folder, "cache"),
                            ASAN_OPTIONS="detect_leaks=0:abort_on_error=1")
        killed = subprocess.Popen(command, env=importer_env, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
        time.sleep(0.8)
        check(killed.poll() is None, "the big import ended before it could be killed")
        # A second import while the first runs is refused and changes nothing.
        status, output = run_import(args, folder, paths["alpha"])
        check(status != 0 and "in use by another import" in output,
              "a second import beside the first (%d):\n%s" % (status, output))
        killed.kill()
        killed.wait()
        check(harness.read(folder, "VESTRALUME/1/count.txt") == "18\n", "the killed import switched in")
        time.sleep(0.5)
        harness.wait_settled(folder, quiet=0.5)
        check(app.alive(), "the program ended")
        check(enter_opens(app, log, "Enter after the kill") == "https://beta.example/live/1/index.m3u8",
              "after the kill tile 1 opens another channel")
        expect_sound(args, folder, "the killed import")
        app.key("Escape")
        check(app.wait_exit() == 0, "Esc")
        check(not harness.sanitizer_reports(app.output()), app.output())
    finally:
        app.stop()


if __name__ == "__main__":
    harness.main(test)
