"""The program killed with SIGKILL at renames spread over a storm of keys
and over the F12 batch copy: after every kill the data root is sound, no
state file is empty or partial, and no thumbnail copy is partial. Every
write of the program ends in a rename, so the kills land at the moments a
power cut could cut; the same keys in the same order give the same renames
on every run of the test."""

import os

import harness
from harness import check
from test_evening import make_recorder

STORM_KEYS = ["Left", "Right", "Up", "Down", "Prior", "Next", "F1", "F2", "BackSpace",
              "Return", "a", "Delete"]
# Each key after each other key once more, in a fixed order.
STORM = STORM_KEYS + STORM_KEYS[::-1] + STORM_KEYS[::2] + STORM_KEYS[1::2]
# Renames between the kills during the storm (a prime, so the kills fall on
# different kinds of write).
STORM_EVERY = 29
# The batch copy makes 4 renames per image (p.txt, pp.txt, n.txt, then the
# copy) after the first n.txt: one rename in 1601 kills the copy at each of
# the four in turn.
COPY_EVERY = 1601


def check_state_files(args, folder, when):
    sound, problems = harness.run_checker(args, folder)
    check(sound, "after %s the data root is damaged:\n%s" % (when, "\n".join(problems)))
    for name, data in harness.state_snapshot(folder).items():
        if name.endswith(".txt") and not name.startswith("."):
            check(len(data) > 0, "after %s VESTRALUME/n/%s is empty" % (when, name))


def run_keys(args, server, folder, env, kill, keys, done=None):
    """Starts the program in `folder` under the kill's tracer, sends `keys`
    and returns once it has ended: killed, or, when no kill came, after
    `done()` held (when given), it settled and Esc ended it."""
    app = harness.TracedQuillon(server, args.quillon, folder, env, launcher=kill.tracer)
    try:
        app.key(*keys, delay_ms=3)
        if done:
            harness.wait_until(lambda: not app.alive() or done(), 120, 0.1, "the keys' work")
        harness.end_traced_run(app, folder)
    finally:
        app.stop()


def copied_all(folder):
    return os.path.exists(os.path.join(folder, "n.txt")) and harness.read(folder, "n.txt") == "2000"


def check_batch_copy(folder, when):
    if not os.path.exists(os.path.join(folder, "n.txt")):
        # Killed before the counter's first write: nothing was copied.
        check(not any(name.endswith(".Quillon") for name in os.listdir(folder)),
              "%s copies were made without a counter" % when)
        return "none"
    counter = harness.read(folder, "n.txt")
    check(counter.isdigit() and 0 <= int(counter) <= 2000,
          "%s n.txt holds %r" % (when, counter))
    for name, suffix in (("p.txt", ".jpg"), ("pp.txt", ".Quillon")):
        if not os.path.exists(os.path.join(folder, name)):
            check(counter == "0", "%s %s is missing" % (when, name))
            continue
        text = harness.read(folder, name)
        check(text.endswith(suffix) and text[:-len(suffix)].isdigit(),
              "%s %s holds %r" % (when, name, text))
    for k in range(1, 2001):
        copy = os.path.join(folder, "%d.Quillon" % k)
        if os.path.exists(copy):
            with open(copy, "rb") as a, open(os.path.join(folder, "%d.jpg" % k), "rb") as b:
                check(a.read() == b.read(), "%s %d.Quillon is a partial copy" % (when, k))
    return counter


def test(args, server, folder):
    if not harness.skip_unless_traceable():
        return
    base = os.path.join(folder, "base")
    os.makedirs(base)
    harness.make_sample_root(args, base)
    stub_dir, _ = make_recorder(folder)
    env = {"PATH": stub_dir + ":" + os.environ["PATH"]}

    storm_kills = 0
    for kill in harness.kill_at_every_rename(folder, every=STORM_EVERY):
        case = os.path.join(folder, "storm%d" % kill.n)
        harness.copy_root(base, case)
        run_keys(args, server, case, env, kill, STORM)
        when = "a kill at rename %d of a key storm" % kill.n if kill.killed() else "a key storm"
        check_state_files(args, case, when)
        storm_kills += kill.killed()
        harness.remove_root(case)

    # The batch copy works in the working directory: 2000 distinct images.
    for k in range(1, 2001):
        with open(os.path.join(base, "%d.jpg" % k), "wb") as f:
            f.write(os.urandom(512) + b"image %d" % k)
    copy_kills = 0
    for kill in harness.kill_at_every_rename(folder, every=COPY_EVERY):
        case = os.path.join(folder, "copy%d" % kill.n)
        harness.copy_root(base, case)
        run_keys(args, server, case, env, kill, ["F12"], lambda: copied_all(case))
        when = ("a kill at rename %d of the batch copy" % kill.n if kill.killed()
                else "the batch copy")
        counter = check_batch_copy(case, when)
        check_state_files(args, case, when)
        print("%s: counter at %s" % (when, counter))
        copy_kills += kill.killed()
        harness.remove_root(case)
    check(copy_kills == 5, "%d kills during the batch copy, not 5" % copy_kills)
    print("%d kills during a key storm, %d during the batch copy" % (storm_kills, copy_kills))


if __name__ == "__main__":
    harness.main(test)
