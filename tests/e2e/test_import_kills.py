"""quillon-import killed with SIGKILL at random moments of importing big
playlists: after every kill the data root is sound (the checker passes), the
catalogue is whole (the old playlist or the new one, never a mixture), the
URL directory has only grown, and a favourite still opens what it opened.
The next import cleans up what the killed one left and completes."""

import os
import random
import subprocess
import time

import harness
from harness import check

BIG = 8000
KILLS = 8


def playlist(prefix, count, seed):
    rng = random.Random(seed)
    lines = ["#EXTM3U"]
    for n in range(1, count + 1):
        # Half the addresses repeat between the playlists: they keep their numbers.
        host = "shared" if rng.random() < 0.5 else prefix
        lines.append("#EXTINF:-1 group-title=\"G%d\",%s %d" % (n % 7, prefix, n))
        lines.append("http://%s.example/stream/%d.ts" % (host, n))
    return "\n".join(lines) + "\n"


def importer_command(args, folder, path):
    return [os.path.join(args.build, "tools", "quillon-import"), "--root", folder, path]


def importer_env(folder):
    env = dict(os.environ)
    env["XDG_CACHE_HOME"] = os.path.join(folder, "cache")
    env.setdefault("ASAN_OPTIONS", "detect_leaks=0:abort_on_error=1")
    return env


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
    rng = random.Random(int(os.environ.get("QUILLON_KILL_SEED", "11")))
    harness.make_sample_root(args, folder)
    playlists = {}
    for name, count in (("alpha", BIG), ("beta", BIG - 3000)):
        path = os.path.join(folder, name + ".m3u")
        with open(path, "w") as f:
            f.write(playlist(name, count, name))
        playlists[name] = (path, (count, "%s 1" % name, "%s %d" % (name, count)))

    # A whole import first, timed, and a favourite from it.
    started = time.monotonic()
    done = subprocess.run(importer_command(args, folder, playlists["alpha"][0]),
                          env=importer_env(folder), capture_output=True, text=True)
    took = time.monotonic() - started
    check(done.returncode == 0, "the first import failed:\n" + done.stdout + done.stderr)
    print("a whole import of %d entries took %.1f s" % (BIG, took))
    with open(os.path.join(folder, "VESTRALUME/1/5.txt"), "rb") as f:
        favourite = f.read()
    with open(os.path.join(folder, "VESTRALUME/2/1.txt"), "wb") as f:
        f.write(favourite)
    with open(os.path.join(folder, "VESTRALUME/n/d.txt"), "w") as f:
        f.write("1")
    favourite_link = int(favourite.split(b"\n")[0])
    favourite_address = links_of(folder)[favourite_link]

    current = "alpha"
    outcomes = {"old": 0, "new": 0}
    for round_number in range(1, KILLS + 1):
        target = "beta" if current == "alpha" else "alpha"
        links_before = links_of(folder)
        process = subprocess.Popen(importer_command(args, folder, playlists[target][0]),
                                   env=importer_env(folder), stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        moment = rng.uniform(0.02, took * 1.1)
        time.sleep(moment)
        process.kill()
        process.wait()
        when = "kill %d at %.2f s into importing %s" % (round_number, moment, target)
        sound, problems = harness.run_checker(args, folder)
        check(sound, "after %s the checker finds:\n%s" % (when, "\n".join(problems)))
        catalogue = catalogue_of(folder)
        if catalogue == playlists[target][1]:
            outcomes["new"] += 1
            current = target
        else:
            check(catalogue == playlists[current][1],
                  "after %s the catalogue is %r, neither playlist" % (when, catalogue))
            outcomes["old"] += 1
        links_after = links_of(folder)
        check(all(links_after.get(n) == a for n, a in links_before.items()),
              "after %s a link number changed its address" % when)
        check(links_after[favourite_link] == favourite_address, "the favourite's address moved")
        print("%s: the %s catalogue is in place" % (when, "new" if current == target else "old"))

    final = "beta" if current == "alpha" else "alpha"
    # --wait: the last import makes its cards itself and removes what it
    # switched out at once, so nothing may be left behind after it.
    done = subprocess.run(importer_command(args, folder, playlists[final][0])[:-1] +
                          ["--wait", playlists[final][0]],
                          env=importer_env(folder), capture_output=True, text=True)
    check(done.returncode == 0, "the import after the kills failed:\n" + done.stdout + done.stderr)
    check(catalogue_of(folder) == playlists[final][1], "the last import is not in place")
    # The folder .import stays: it is what the import lock is taken on.
    leftovers = [name for name in os.listdir(os.path.join(folder, "VESTRALUME"))
                 if name.startswith(".") and name != ".import"]
    check(not leftovers, "left behind in VESTRALUME/: %r" % leftovers)
    sound, problems = harness.run_checker(args, folder)
    check(sound, "after the last import:\n" + "\n".join(problems))
    print("%d kills: the old catalogue stayed %d times, the new one was in place %d times"
          % (KILLS, outcomes["old"], outcomes["new"]))


if __name__ == "__main__":
    harness.main(test)
