"""Adding a favourite killed at each of its writes. The real program runs
under strace, which kills it with SIGKILL at the n-th file replacement (a
rename: every write of the program ends in one) for every n up to the last
write of the command. After each kill the checker calls the root sound and
every favourite up to the count is whole: its thumbnail and link file are
the copies of one catalogue channel."""

import os
import re
import shutil
import subprocess

import harness
from harness import check, read, wait_until

RENAMES = "rename,renameat,renameat2"
# Before the command: favourites 1 to 3 are channels 10, 11 and 12; slot 4
# was removed (blank thumbnail, an old link file), as Delete leaves it.
FAVOURITES = {1: 10, 2: 11, 3: 12}
ADDED = 3  # tile 3 of the page starting at 1


class TracedQuillon(harness.Quillon):
    """The program under strace: its window is found by name, as the
    process started is strace's."""

    def _find_window(self):
        if self.process.poll() is not None:
            raise harness.Failure("Quillon ended during start-up:\n" + self.output())
        out = self.server.run("xdotool", "search", "--onlyvisible", "--name", "^Quillon$",
                              check_status=False)
        ids = out.split()
        return ids[0] if ids else None


def tracer(log, kill_at=None):
    command = ["strace", "-qq", "-y", "-e", "signal=none", "-o", log, "-e", "trace=" + RENAMES]
    if kill_at:
        command += ["-e", "inject=%s:signal=KILL:when=%d" % (RENAMES, kill_at)]
    return command + ["--"]


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


def replaced_files(log, folder):
    """The files the traced run in `folder` replaced, in order: the full
    path of each successful rename's target."""
    names = []
    with open(log, encoding="utf-8", errors="replace") as f:
        for line in f:
            if not line.startswith("rename") or not line.rstrip().endswith("= 0"):
                continue
            # renameat(5</path/to/folder>, ".x.tmp", 5</path/to/folder>, "x") = 0
            # rename("dir/.x.tmp", "dir/x") = 0
            folders = re.findall(r"<([^>]*)>", line)
            target = re.findall(r'"([^"]*)"', line)[-1]
            names.append(os.path.join(folders[-1] if folders else folder, target))
    return names


def add_favourite(args, server, folder, kill_at=None):
    """Starts the program under strace, presses `a`, and returns once the
    program has ended (killed) or, without a kill, has shown the favourites."""
    log = os.path.join(folder, "renames.log")
    app = TracedQuillon(server, args.quillon, folder, launcher=tracer(log, kill_at),
                        log_path=os.path.join(folder, "quillon.log"))
    try:
        app.key("a")
        if kill_at:
            app.wait_exit(60)
        else:
            wait_until(lambda: read(folder, "VESTRALUME/n/n16b.txt") == "VESTRALUME/2/16.Quillon"
                       and read(folder, "VESTRALUME/n/d.txt") == "4", 30, 0.1, "the favourite")
            harness.wait_settled(folder, quiet=1.0)
            app.key("Escape")
            app.wait_exit(30)
    finally:
        app.stop()
    return replaced_files(log, folder)


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
    if subprocess.run(["strace", "-qq", "-e", "trace=none", "true"], capture_output=True).returncode:
        print("SKIPPED: strace cannot trace programs here (no ptrace)")
        return
    base = os.path.join(folder, "base")
    prepare(args, base)
    check(harness.run_checker(args, base)[0], "the prepared root is sound")

    # A run without a kill shows which replacements the command makes.
    whole = os.path.join(folder, "whole")
    shutil.copytree(base, whole, symlinks=True)
    replaced = add_favourite(args, server, whole)
    check(check_whole(args, whole, "without a kill") == 4, "the favourite was added")
    state = os.path.join(whole, "VESTRALUME", "n")
    favourites = os.path.join(whole, "VESTRALUME", "2")
    command_files = {os.path.join(state, name) for name in
                     ("d.txt", "nppi.txt", "nppt.txt", "npi.txt", "npt.txt")}
    command_files |= {os.path.join(favourites, "4.txt"), os.path.join(favourites, "4.Quillon")}
    writes = [i + 1 for i, name in enumerate(replaced) if name in command_files]
    check(len(writes) == 7 and writes == list(range(1, 8)),
          "the command's writes are the first replacements: %s" % replaced[:12])
    shutil.rmtree(whole)

    # Killed at each of them, and at the first write after them (the page
    # build that shows the favourites).
    for kill_at in writes + [len(writes) + 1]:
        case = os.path.join(folder, "kill%d" % kill_at)
        shutil.copytree(base, case, symlinks=True)
        cut = replaced[kill_at - 1][len(whole) + 1:]
        add_favourite(args, server, case, kill_at)
        count = check_whole(args, case, "killed before replacing " + cut)
        print("killed before replacing %s: %s" % (cut, "no favourite added" if count == 3
                                                    else "favourite 4 whole"))
        shutil.rmtree(case)


if __name__ == "__main__":
    harness.main(test)
