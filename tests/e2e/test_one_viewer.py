"""One viewer per data root: a second Quillon started on a root in use says
so on standard error and in a small window a desktop user sees, changes
nothing, and ends with status 1, while the first goes on."""

import os
import subprocess
import time

import harness
from harness import check, read, wait_until

MESSAGE = ("Quillon cannot start: VESTRALUME/ is in use by another Quillon or by an upgrade "
           "of it")


def notice_window(server, pid):
    out = server.run("xdotool", "search", "--onlyvisible", "--pid", str(pid), "--name",
                     "^Quillon cannot start$", check_status=False)
    ids = out.split()
    return ids[0] if ids else None


def start_second(server, args, folder):
    return subprocess.Popen([args.quillon], cwd=folder, env=server.env(),
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)


def test(args, server, folder):
    harness.make_sample_root(args, folder)
    first = harness.Quillon(server, args.quillon, folder)
    try:
        first.key("Right")
        wait_until(lambda: read(folder, "VESTRALUME/n/b.txt") == "2", 10, 0.1, "the first viewer")
        before = harness.state_snapshot(folder)

        # Left alone, the notice goes away by itself and the second ends.
        second = start_second(server, args, folder)
        window = wait_until(lambda: notice_window(server, second.pid), 30, 0.1, "the notice window")
        time.sleep(0.5)
        shot = os.path.join(folder, "notice.png")
        xwd = subprocess.run(["xwd", "-id", window, "-silent"], env=server.env(),
                             capture_output=True, check=True)
        subprocess.run(["/usr/bin/convert", "xwd:-", shot], input=xwd.stdout, check=True)
        stats = subprocess.run(["/usr/bin/convert", shot, "-format", "%[fx:maxima.r] %[fx:mean]",
                                "info:"], capture_output=True, text=True, check=True).stdout.split()
        check(float(stats[0]) > 0.9 and float(stats[1]) < 0.5,
              "the notice shows light text on a dark ground: %s" % stats)
        started = time.monotonic()
        out, err = second.communicate(timeout=60)
        waited = time.monotonic() - started
        check(second.returncode == 1, "the second viewer ended with status %s" % second.returncode)
        check(MESSAGE in err, "the second viewer's standard error: %r" % err)
        check(5 < waited < 20, "the notice closed by itself after %.1f s" % waited)

        # A key closes it at once.
        second = start_second(server, args, folder)
        window = wait_until(lambda: notice_window(server, second.pid), 30, 0.1, "the notice window")
        server.run("xdotool", "windowfocus", "--sync", window, check_status=False)
        server.run("xdotool", "key", "--window", window, "space")
        second.communicate(timeout=10)
        check(second.returncode == 1, "the second viewer ended with status %s" % second.returncode)

        # Nothing of the root changed, and the first viewer goes on.
        check(harness.state_snapshot(folder) == before, "the second viewer changed state files")
        check(first.alive(), "the first viewer ended:\n" + first.output())
        first.key("Right")
        wait_until(lambda: read(folder, "VESTRALUME/n/b.txt") == "3", 10, 0.1,
                   "the first viewer to answer a key after the second ended")
        first.key("Escape")
        check(first.wait_exit(30) == 0, "Esc ends the first viewer with status 0")
    finally:
        first.stop()


if __name__ == "__main__":
    harness.main(test)
