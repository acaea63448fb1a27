"""Thousands of random keys from the program's key set, sent to the real
program (the test build has AddressSanitizer and UndefinedBehaviorSanitizer):
it never crashes, reports nothing, ends with status 0 on Esc (a second one
when the keys left it in find mode), and leaves a data root whose every
state file is valid."""

import os
import random

import harness
from harness import check
from test_evening import make_recorder, opened_lines

KEYS = ["Left", "Right", "Up", "Down", "Prior", "Next", "F1", "F2", "F4", "Home", "End",
        "BackSpace", "Return", "a", "A", "Delete", "b", "space", "Tab", "1", "9", "0"]
# Moves are the common case; the commands that rebuild a page or copy files
# come often enough to be exercised hundreds of times.
WEIGHTS = [6, 6, 5, 5, 4, 4, 1, 1, 1, 1, 1, 3, 1, 2, 1, 2, 1, 1, 1, 1, 1, 1]
TOTAL_KEYS = 3000
CHUNK = 150
# Then find mode: `/` and F3 open it, the keys type, Backspace takes back and
# leaves, and the wall's moves work on the matches.
FIND_KEYS = ["slash", "F3", "p", "e", "r", "v", "a", "1", "space", "BackSpace", "Left", "Right",
             "Down", "Next", "Prior", "Home", "End", "Return", "Delete"]
FIND_WEIGHTS = [1, 1, 3, 3, 3, 3, 2, 2, 1, 6, 2, 2, 2, 2, 2, 1, 1, 1, 1]
FIND_KEYS_SENT = 600


def test(args, server, folder):
    harness.make_sample_root(args, folder)
    stub_dir, opened = make_recorder(folder)
    env = {"PATH": stub_dir + ":" + os.environ["PATH"]}
    rng = random.Random(int(os.environ.get("QUILLON_SOAK_SEED", "20261210")))
    app = harness.Quillon(server, args.quillon, folder, env)
    try:
        sent = 0
        while sent < TOTAL_KEYS:
            keys = rng.choices(KEYS, WEIGHTS, k=CHUNK)
            app.key(*keys, delay_ms=4)
            sent += len(keys)
            check(app.alive(), "the program ended after %d keys:\n%s" % (sent, app.output()))
        harness.wait_settled(folder)
        app.key("slash")
        for _ in range(FIND_KEYS_SENT // CHUNK):
            app.key(*rng.choices(FIND_KEYS, FIND_WEIGHTS, k=CHUNK), delay_ms=4)
            sent += CHUNK
            check(app.alive(), "the program ended in find mode after %d keys:\n%s"
                  % (sent, app.output()))
        harness.wait_settled(folder)
        check(app.alive(), "the program ended:\n%s" % app.output())
        # In find mode Esc leaves it: a second Esc then quits.
        app.key("Escape")
        try:
            status = app.wait_exit(5)
        except harness.Failure:
            app.key("Escape")
            status = app.wait_exit(60)
        output = app.output()
        check(status == 0, "Esc ended the program with status %s:\n%s" % (status, output[-3000:]))
        reports = harness.sanitizer_reports(output)
        check(not reports, "sanitizer reports:\n" + "\n".join(reports))
        sound, problems = harness.run_checker(args, folder)
        check(sound, "the data root is damaged after the soak:\n" + "\n".join(problems))
        print("sent %d keys; favourites now %s; scale %s; %d addresses opened"
              % (sent, harness.read(folder, "VESTRALUME/n/d.txt"),
                 harness.read(folder, "VESTRALUME/n/u.txt"), len(opened_lines(opened))))
    finally:
        app.stop()


if __name__ == "__main__":
    harness.main(test)
