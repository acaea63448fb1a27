"""The program killed with SIGKILL at random moments, during key storms and
during the F12 batch copy, many times over: after every kill the data root is
sound, no state file is empty or partial, and no thumbnail copy is partial."""

import os
import random
import subprocess
import time

import harness
from harness import check
from test_evening import make_recorder

STORM_KEYS = ["Left", "Right", "Up", "Down", "Prior", "Next", "F1", "F2", "BackSpace",
              "Return", "a", "Delete"]
STORM_KILLS = 12
COPY_KILLS = 6


def storm(server, window, rng):
    keys = rng.choices(STORM_KEYS, k=400)
    return subprocess.Popen(["xdotool", "key", "--window", window, "--delay", "3"] + keys,
                            env=server.env(), stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)


def kill_now(app):
    app.process.kill()
    app.process.wait()
    app.stop()


def check_state_files(folder, when):
    sound, problems = harness.run_checker(args_holder[0], folder)
    check(sound, "after %s the data root is damaged:\n%s" % (when, "\n".join(problems)))
    for name, data in harness.state_snapshot(folder).items():
        if name.endswith(".txt") and not name.startswith("."):
            check(len(data) > 0, "after %s VESTRALUME/n/%s is empty" % (when, name))


args_holder = [None]


def test(args, server, folder):
    args_holder[0] = args
    rng = random.Random(int(os.environ.get("QUILLON_KILL_SEED", "7")))
    harness.make_sample_root(args, folder)
    stub_dir, _ = make_recorder(folder)
    env = {"PATH": stub_dir + ":" + os.environ["PATH"]}

    for round_number in range(1, STORM_KILLS + 1):
        app = harness.Quillon(server, args.quillon, folder, env)
        sender = storm(server, app.window, rng)
        app.key("Down")  # the storm's window gets the focus
        time.sleep(rng.uniform(0.2, 2.5))
        kill_now(app)
        sender.kill()
        sender.wait()
        check_state_files(folder, "kill %d during a key storm" % round_number)

    # The batch copy works in the working directory: 2000 distinct images.
    for k in range(1, 2001):
        with open(os.path.join(folder, "%d.jpg" % k), "wb") as f:
            f.write(os.urandom(512) + b"image %d" % k)
    for round_number in range(1, COPY_KILLS + 1):
        app = harness.Quillon(server, args.quillon, folder, env)
        app.key("F12")
        time.sleep(rng.uniform(0.0, 0.8))
        kill_now(app)
        when = "kill %d during the batch copy" % round_number
        counter = harness.read(folder, "n.txt")
        check(counter.isdigit() and 0 <= int(counter) <= 2000,
              "%s n.txt holds %r" % (when, counter))
        for name, suffix in (("p.txt", ".jpg"), ("pp.txt", ".Quillon")):
            text = harness.read(folder, name)
            check(text.endswith(suffix) and text[:-len(suffix)].isdigit(),
                  "%s %s holds %r" % (when, name, text))
        for k in range(1, 2001):
            copy = os.path.join(folder, "%d.Quillon" % k)
            if os.path.exists(copy):
                with open(copy, "rb") as a, open(os.path.join(folder, "%d.jpg" % k), "rb") as b:
                    check(a.read() == b.read(), "%s %d.Quillon is a partial copy" % (when, k))
        check_state_files(folder, when)
        print("%s: counter at %s" % (when, counter))
    print("%d kills during key storms, %d during the batch copy" % (STORM_KILLS, COPY_KILLS))


if __name__ == "__main__":
    harness.main(test)
