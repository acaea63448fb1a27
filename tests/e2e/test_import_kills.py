"""quillon-import killed with SIGKILL at each of its own renames (its main
thread's: the directory, the state files, the switch of the catalogue
folder, the clean-up), importing one playlist over another: after every
kill the data root is sound (the checker passes), the catalogue is whole
(the old playlist or the new one, never a mixture), the URL directory has
only grown, and a favourite still opens what it opened. The next import
cleans up what the killed one left and completes."""

import os
import subprocess

import harness
from harness import check

# Small playlists: the cards of the first page are made by threads, whose
# renames (into the staged folder) are left alone, and the card maker runs
# on its own after the switch.
SIZES = {"alpha": 12, "beta": 9}


def playlist(prefix, count):
    lines = ["#EXTM3U"]
    for n in range(1, count + 1):
        # Every other address is in both playlists: it keeps its number.
        host = "shared" if n % 2 else prefix
        lines.append("#EXTINF:-1 group-title=\"G%d\",%s %d" % (n % 7, prefix, n))
        lines.append("http://%s.example/stream/%d.ts" % (host, n))
    return "\n".join(lines) + "\n"


def catalogue_of(folder):
    """(count, name of channel 1, name of the last channel) of the catalogue."""
    count = int(harness.read(folder, "VESTRALUME/1/count.txt"))
    first = harness.read(folder, "VESTRALUME/1/1.txt").split("\n")
    last = harness.read(folder, "VESTRALUME/1/%d.txt" % count).split("\n")
    return count, first[1], last[1]


def links_of(folder):
    table = {}
    for line in harness.read(folder, "VESTRALUME/links.tsv").splitlines():
        if line and not line.startswith("#"):
            fields = line.split("\t")
            table[int(fields[0])] = fields[1]
    return table


def test(args, server, folder):
    del server
    if not harness.skip_unless_traceable():
        return
    base = os.path.join(folder, "base")
    os.makedirs(base)
    harness.make_sample_root(args, base)
    playlists = {}
    for name, count in SIZES.items():
        path = os.path.join(folder, name + ".m3u")
        with open(path, "w") as f:
            f.write(playlist(name, count))
        playlists[name] = (path, (count, "%s 1" % name, "%s %d" % (name, count)))

    # A whole import first, and a favourite from it.
    status, output = harness.run_import(args, base, "--wait", playlists["alpha"][0])
    check(status == 0, "the first import failed:\n" + output)
    with open(os.path.join(base, "VESTRALUME/1/5.txt"), "rb") as f:
        favourite = f.read()
    with open(os.path.join(base, "VESTRALUME/2/1.txt"), "wb") as f:
        f.write(favourite)
    with open(os.path.join(base, "VESTRALUME/n/d.txt"), "w") as f:
        f.write("1")
    favourite_link = int(favourite.split(b"\n")[0])
    favourite_address = links_of(base)[favourite_link]
    links_before = links_of(base)

    outcomes = {"old": 0, "new": 0}
    for kill in harness.kill_at_every_rename(folder):
        case = os.path.join(folder, "kill%d" % kill.n)
        harness.copy_root(base, case)
        subprocess.run(kill.tracer + harness.importer_command(args, case, playlists["beta"][0]),
                       env=harness.importer_env(case), stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=120)
        when = "killed at rename %d" % kill.n if kill.killed() else "without a kill"
        sound, problems = harness.run_checker(args, case)
        check(sound, "%s the checker finds:\n%s" % (when, "\n".join(problems)))
        catalogue = catalogue_of(case)
        if catalogue == playlists["beta"][1]:
            outcomes["new"] += 1
        else:
            check(catalogue == playlists["alpha"][1],
                  "%s the catalogue is %r, neither playlist" % (when, catalogue))
            outcomes["old"] += 1
        links_after = links_of(case)
        check(all(links_after.get(n) == a for n, a in links_before.items()),
              "%s a link number changed its address" % when)
        check(links_after[favourite_link] == favourite_address, "the favourite's address moved")
        print("%s: the %s catalogue is in place" % (when, "new" if catalogue == playlists["beta"][1]
                                                    else "old"))
        if not kill.killed():
            check(catalogue == playlists["beta"][1], "the import without a kill is not in place")
            harness.remove_root(case)
            break

        # --wait: the next import makes its cards itself and removes what it
        # switched out at once, so nothing may be left behind after it.
        status, output = harness.run_import(args, case, "--wait", playlists["beta"][0])
        check(status == 0, "%s the next import failed:\n%s" % (when, output))
        check(catalogue_of(case) == playlists["beta"][1], "%s the next import is not in place" % when)
        # The folder .import stays: it is what the import lock is taken on.
        leftovers = [name for name in os.listdir(os.path.join(case, "VESTRALUME"))
                     if name.startswith(".") and name != ".import"]
        check(not leftovers, "%s left behind in VESTRALUME/: %r" % (when, leftovers))
        sound, problems = harness.run_checker(args, case)
        check(sound, "%s after the next import:\n%s" % (when, "\n".join(problems)))
        harness.remove_root(case)
    print("%d kills: the old catalogue stayed %d times, the new one was in place %d times"
          % (outcomes["old"] + outcomes["new"] - 1, outcomes["old"], outcomes["new"] - 1))


if __name__ == "__main__":
    harness.main(test)
