"""A big playlist on the wall at once: 20,000 channels whose logos (500 of
distinct colours) are served from 127.0.0.1, imported with a cold cache.
The import returns once the catalogue is switched in, the program started
right after shows the logo cards of channels 1 to 16, End shows the last
page's logo cards within 2 s, and the checker accepts the catalogue while
its cards are being made. Then, on a smaller playlist, the importer and the
background card maker are killed with SIGKILL at random moments: the root
stays sound, and the next start of the program makes the missing cards,
the same cards a import that waits for them makes. The screenshot of the
last page is kept as <build>/fast-import.png."""

import os
import random
import signal
import subprocess
import sys
import time

import harness
from harness import check, tile_point, wait_until

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import big_playlist  # noqa: E402

LOGOS = 500
ENTRIES = 20000


class LogoServer:
    def __init__(self, args, folder, logos):
        self.port_file = os.path.join(folder, "logo-port")
        script = os.path.join(args.source, "tests", "support", "logo_server.py")
        self.process = subprocess.Popen([sys.executable, script, "--folder", logos, "--port-file",
                                         self.port_file, "--log", os.path.join(folder, "logo-requests.log")])
        wait_until(lambda: os.path.exists(self.port_file), 15, 0.1, "the logo server")
        with open(self.port_file) as f:
            self.address = "http://127.0.0.1:%s/good/" % f.read().strip()

    def close(self):
        self.process.terminate()
        self.process.wait(10)


def makers_of(root_folder):
    return harness.card_makers(root_folder)


def stop_makers(root_folder):
    harness.stop_card_makers(root_folder)


def cards_pending(folder):
    return os.path.exists(os.path.join(folder, "VESTRALUME", "1", ".cards"))


def logo_on_tile(image, scale, tile, channel):
    """Whether tile `tile` shows the logo of channel `channel`: the middle of
    its logo box has the logo's colour."""
    x, y = tile_point(scale, tile, 0.0, 0.45)
    expected = big_playlist.logo_colour((channel - 1) % LOGOS)
    return harness.close_colour(image.average(int(x), int(y), 2), expected, 48)


def page_of_logos(app, folder, first, shown):
    """Waits until tiles 1..shown show the logos of channels first.. on."""
    scale = float(harness.read(folder, "VESTRALUME/n/u.txt") or 1.0)
    last = [None]

    def showing():
        image = app.screenshot()
        last[0] = image
        if os.environ.get("QUILLON_TEST_VERBOSE"):
            print("%.2f: %d of %d" % (time.monotonic(), sum(logo_on_tile(image, scale, tile, first + tile - 1) for tile in range(1, shown + 1)), shown))
        return all(logo_on_tile(image, scale, tile, first + tile - 1) for tile in range(1, shown + 1))
    try:
        wait_until(showing, 30, 0.1, "the logo cards of channels %d to %d" % (first, first + shown - 1))
    except harness.Failure:
        image = last[0]
        wrong = [tile for tile in range(1, shown + 1)
                 if not logo_on_tile(image, scale, tile, first + tile - 1)]
        raise harness.Failure("tiles %s do not show their logos (e.g. tile %d: %s, expected %s)" % (
            wrong, wrong[0], image.average(*[int(v) for v in tile_point(scale, wrong[0], 0.0, 0.45)], 2),
            big_playlist.logo_colour((first + wrong[0] - 2) % LOGOS)))
    return last[0]


def big_playlist_on_the_wall(args, server, folder, web, cache):
    root = os.path.join(folder, "big")
    os.makedirs(root)
    harness.make_sample_root(args, root)
    playlist = os.path.join(folder, "big.m3u")
    big_playlist.write_playlist(playlist, ENTRIES, web.address, LOGOS)
    env = harness.importer_env(folder, {"XDG_CACHE_HOME": cache})
    started = time.monotonic()
    result = subprocess.run(harness.importer_command(args, root, playlist), env=env,
                            capture_output=True, text=True, timeout=120)
    took = time.monotonic() - started
    print(result.stdout + result.stderr)
    print("import of %d channels returned after %.2f s" % (ENTRIES, took))
    check(result.returncode == 0, "the import failed")
    check("still to be made" in result.stdout and "made in the background" in result.stdout,
          "the import does not say what continues in the background")
    try:
        sound, problems = harness.run_checker(args, root)
        check(sound, "the checker refuses a catalogue whose cards are being made:\n" + "\n".join(problems))
        check(any("still being made" in line for line in problems),
              "the checker does not name the cards being made: %s" % problems)

        app = harness.Quillon(server, args.quillon, root, env={"XDG_CACHE_HOME": cache})
        try:
            print("the window after %.2f s" % (time.monotonic() - started))
            page_of_logos(app, root, 1, 16)
            print("first page of logo cards after %.2f s" % (time.monotonic() - started))
            app.key("End")
            wait_until(lambda: harness.read(root, "VESTRALUME/n/z1.txt").split()[:1] == ["19989"],
                       10, 0.02, "the last page")
            pressed = time.monotonic()
            image = page_of_logos(app, root, 19989, 12)
            delay = time.monotonic() - pressed
            print("last page of logo cards %.2f s after End" % delay)
            app.screenshot(os.path.join(args.build, "fast-import.png"))
            check(delay <= 2.0, "End showed the last page's logo cards only after %.2f s" % delay)
            app.key("Escape")
            check(app.wait_exit() == 0, "Esc")
        finally:
            app.stop()
    finally:
        stop_makers(root)


def same_cards(a, b, channels):
    for channel in range(1, channels + 1):
        name = "VESTRALUME/1/%d.Quillon" % channel
        with open(os.path.join(a, name), "rb") as fa, open(os.path.join(b, name), "rb") as fb:
            if fa.read() != fb.read():
                return channel
    return 0


def kills(args, server, folder, web, cache):
    count = 240
    playlist = os.path.join(folder, "kills.m3u")
    big_playlist.write_playlist(playlist, count, web.address, LOGOS)
    env = harness.importer_env(folder, {"XDG_CACHE_HOME": cache})
    # The cards as an import that waits for them makes them.
    reference = os.path.join(folder, "reference")
    os.makedirs(reference)
    harness.make_sample_root(args, reference)
    subprocess.run(harness.importer_command(args, reference, "--wait", playlist), env=env,
                   check=True, stdout=subprocess.DEVNULL, timeout=300)

    rng = random.Random(int(os.environ.get("QUILLON_TEST_SEED", "29")))
    root = os.path.join(folder, "killed")
    os.makedirs(root)
    harness.make_sample_root(args, root)
    try:
        # The importer, killed at random moments: the old catalogue or the new one.
        for attempt in range(3):
            process = subprocess.Popen(harness.importer_command(args, root, playlist), env=env,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            time.sleep(rng.uniform(0.0, 0.6))
            process.kill()
            process.wait()
            stop_makers(root)
            sound, problems = harness.run_checker(args, root)
            check(sound, "after the importer was killed:\n" + "\n".join(problems))
        result = subprocess.run(harness.importer_command(args, root, playlist), env=env,
                                capture_output=True, text=True, timeout=120)
        check(result.returncode == 0, "the import after the kills failed: " + result.stderr)
        # The background card maker, killed at random moments while it works.
        for attempt in range(4):
            if not cards_pending(root):
                break
            if not makers_of(root):
                subprocess.Popen(harness.importer_command(args, root, "--make-cards"), env=env,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            time.sleep(rng.uniform(0.05, 0.5))
            stop_makers(root)
            sound, problems = harness.run_checker(args, root)
            check(sound, "after the card maker was killed:\n" + "\n".join(problems))
        # The next start of the program makes what is missing.
        app = harness.Quillon(server, args.quillon, root, env={"XDG_CACHE_HOME": cache})
        try:
            wait_until(lambda: not cards_pending(root), 60, 0.2, "the cards to be complete")
            wait_until(lambda: not makers_of(root), 20, 0.1, "the card maker to end")
            app.key("Escape")
            check(app.wait_exit() == 0, "Esc")
        finally:
            app.stop()
        different = same_cards(root, reference, count)
        check(different == 0, "the card of channel %d differs from the one a waiting import makes"
              % different)
        sound, problems = harness.run_checker(args, root)
        check(sound and not any("still being made" in line for line in problems),
              "after the cards were made:\n" + "\n".join(problems))
        again = subprocess.run(harness.importer_command(args, root, playlist), env=env,
                               capture_output=True, text=True, timeout=120)
        if "checked against its logo" in again.stdout:
            # A kill between the last card and the import record: the import
            # has the cards checked once more, and then knows the playlist.
            wait_until(lambda: not cards_pending(root) and not makers_of(root), 60, 0.2,
                       "the cards to be checked")
            again = subprocess.run(harness.importer_command(args, root, playlist), env=env,
                                   capture_output=True, text=True, timeout=120)
        check("already holds exactly this playlist" in again.stdout,
              "the same playlist again was not recognised: " + again.stdout)
    finally:
        stop_makers(root)


def test(args, server, folder):
    logos = os.path.join(folder, "logos")
    big_playlist.make_logos(logos, LOGOS)
    web = LogoServer(args, folder, logos)
    try:
        big_playlist_on_the_wall(args, server, folder, web, os.path.join(folder, "cache"))
        kills(args, server, folder, web, os.path.join(folder, "cache"))
    finally:
        web.close()


if __name__ == "__main__":
    harness.main(test)
