"""Adding a favourite killed at each of its renames. The real program runs
under strace, which kills it with SIGKILL at the n-th file replacement (a
rename: every write of the program ends in one) for every n up to a run
that goes through the command and the page build after it without a kill.
After each kill the checker calls the root sound and every favourite up to
the count is whole: its thumbnail and link file are the copies of one
catalogue channel."""

import os
import shutil

import harness
from harness import check, read, wait_until

# Before the command: favourites 1 to 3 are channels 10, 11 and 12; slot 4
# was removed (blank thumbnail, an old link file), as Delete leaves it.
FAVOURITES = {1: 10, 2: 11, 3: 12}
ADDED = 3  # tile 3 of the page starting at 1


def file_bytes(folder, relative):
    with open(os.path.join(folder, relative), "rb") as f:
        return f.read()


def prepare(args, folder):
    os.makedirs(folder)
    harness.make_sample_root(args, folder)
    for slot, channel in FAVOURITES.items():
        for suffix in (".Quillon", ".txt"):
            shutil.copyfile(os.path.join(folder, "VESTRALUME/1/%d%s" % (channel, suffix)),
                            os.path.join(folder, "VESTRALUME/2/%d%s" % (slot, suffix)))
    shutil.copyfile(os.path.join(folder, "VESTRALUME/i/1.jpg"),
                    os.path.join(folder, "VESTRALUME/2/4.Quillon"))
    shutil.copyfile(os.path.join(folder, "VESTRALUME/1/99.txt"),
                    os.path.join(folder, "VESTRALUME/2/4.txt"))
    harness.write(folder, "VESTRALUME/n/d.txt", "3")
    harness.write(folder, "VESTRALUME/n/dd.txt", "VESTRALUME/2/4.Quillon")
    harness.write(folder, "VESTRALUME/n/b.txt", str(ADDED))


def add_favourite(args, server, folder, kill):
    """Starts the program under the kill's tracer, presses `a`, and returns
    once the program has ended: killed, or, when no kill came, after it
    showed the favourites and Esc ended it."""
    app = harness.TracedQuillon(server, args.quillon, folder, launcher=kill.tracer,
                        log_path=os.path.join(folder, "quillon.log"))
    try:
        app.key("a")
        wait_until(lambda: not app.alive() or
                   (read(folder, "VESTRALUME/n/n16b.txt") == "VESTRALUME/2/16.Quillon"
                    and read(folder, "VESTRALUME/n/d.txt") == "4"), 30, 0.1, "the favourite")
        harness.end_traced_run(app, folder)
    finally:
        app.stop()


def check_whole(args, folder, when):
    sound, problems = harness.run_checker(args, folder)
    check(sound, "%s: the checker says:\n%s" % (when, "\n".join(problems)))
    count = int(read(folder, "VESTRALUME/n/d.txt"))
    check(count in (3, 4), "%s: the count is %d" % (when, count))
    expected = dict(FAVOURITES)
    expected[4] = ADDED
    for slot in range(1, count + 1):
        for suffix in (".Quillon", ".txt"):
            check(file_bytes(folder, "VESTRALUME/2/%d%s" % (slot, suffix))
                  == file_bytes(folder, "VESTRALUME/1/%d%s" % (expected[slot], suffix)),
                  "%s: favourite %d%s is not channel %d's" % (when, slot, suffix, expected[slot]))
    return count


def test(args, server, folder):
    if not harness.skip_unless_traceable():
        return
    base = os.path.join(folder, "base")
    prepare(args, base)
    check(harness.run_checker(args, base)[0], "the prepared root is sound")

    kills = 0
    for kill in harness.kill_at_every_rename(folder):
        case = os.path.join(folder, "kill%d" % kill.n)
        harness.copy_root(base, case)
        add_favourite(args, server, case, kill)
        if kill.killed():
            kills += 1
            count = check_whole(args, case, "killed at rename %d" % kill.n)
            print("killed at rename %d: %s" % (kill.n, "no favourite added" if count == 3
                                                else "favourite 4 whole"))
        else:
            # The run without a kill: the command's writes came first.
            check(check_whole(args, case, "without a kill") == 4, "the favourite was added")
            replaced = kill.replaced(case)
            state = os.path.join(case, "VESTRALUME", "n")
            favourites = os.path.join(case, "VESTRALUME", "2")
            command_files = {os.path.join(state, name) for name in
                             ("d.txt", "nppi.txt", "nppt.txt", "npi.txt", "npt.txt")}
            command_files |= {os.path.join(favourites, "4.txt"),
                              os.path.join(favourites, "4.Quillon")}
            writes = [i + 1 for i, name in enumerate(replaced) if name in command_files]
            check(len(writes) == 7 and writes == list(range(1, 8)),
                  "the command's writes are the first replacements: %s" % replaced[:12])
        harness.remove_root(case)
    # Each of the command's seven writes was killed once, and at least the
    # first write of the page build after them.
    check(kills >= 8, "only %d renames were killed" % kills)


if __name__ == "__main__":
    harness.main(test)
