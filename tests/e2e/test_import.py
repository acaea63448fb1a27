"""A person's own playlist on the wall: quillon-import puts a playlist into a
fresh data root with one command; the real program then shows it, Enter on
tile 1 hands the first entry's stream to the media player (a stand-in mpv
records it, as a stand-in xdg-open records the product page), Page Down
stops where the last channel stands on a selectable row, and a favourite
added then opens the same address after a different playlist is imported. While the program runs
the same playlist imports again and changes nothing.
Playlists are also downloaded from a server on 127.0.0.1, and a server that
answers 404 or redirects in circles changes nothing."""

import http.server
import os

import harness
from harness import check, run_import, wait_until
from test_evening import PRODUCT_PAGE, make_recorder, opened_lines, settled_screen

COUNT = 30
LAST_FIRST = 21  # 1 + 4 * ceil((30 - 12) / 4)


def playlist(prefix, count):
    lines = ["#EXTM3U"]
    for n in range(1, count + 1):
        lines.append('#EXTINF:-1 tvg-id="%s%d" group-title="%s",%s Channel %d'
                     % (prefix, n, "Odd" if n % 2 else "Even", prefix.capitalize(), n))
        lines.append("https://%s.example/live/%d/index.m3u8" % (prefix, n))
    return "\n".join(lines) + "\n"


def add_player_recorder(stub_dir, log):
    """A stand-in mpv, found before any real player on PATH, that appends
    "mpv" and the address it was given after "--" to the same log as the
    stand-in xdg-open."""
    stub = os.path.join(stub_dir, "mpv")
    with open(stub, "w") as f:
        f.write("#!/bin/sh\nwhile [ \"$#\" -gt 1 ] && [ \"$1\" != -- ]; do shift; done\n"
                "printf 'mpv\\t%%s\\n' \"$2\" >> '%s'\n" % log)
    os.chmod(stub, 0o755)


def own_root(args, folder):
    """Without --root the importer uses the user's own data root, made from
    the template (here the build's) first, as the launcher does; groups are
    picked, and the playlist comes on standard input."""
    data_home = os.path.join(folder, "data-home")
    text = playlist("gamma", 12)
    status, output = run_import(args, folder, "--list-groups", "-", root=False, stdin=text)
    check(status == 0 and "6  Odd" in output and "6  Even" in output,
          "--list-groups said (%d):\n%s" % (status, output))
    status, output = run_import(args, folder, "--group", "even", "-", root=False, stdin=text,
                                extra_env={"XDG_DATA_HOME": data_home})
    print(output)
    check(status == 0, "the import into the user's own root failed:\n" + output)
    check("making your data folder" in output, "the root was not made from the template")
    user_folder = os.path.join(data_home, "quillon")
    check(harness.read(user_folder, "VESTRALUME/1/count.txt") == "6\n", "six even channels")
    check(harness.read(user_folder, "VESTRALUME/1/1.txt").split("\n")[1] == "Gamma Channel 2",
          "the first even channel comes first")
    expect_sound(args, user_folder, "the import into the user's own root")
    status, output = run_import(args, folder, "--group", "None Such", "-", root=False,
                                stdin=text, extra_env={"XDG_DATA_HOME": data_home})
    check(status != 0 and "--list-groups shows the groups" in output, output)
    status, output = run_import(args, folder, "-", root=False, stdin="just junk\n",
                                extra_env={"XDG_DATA_HOME": data_home})
    check(status != 0 and "holds no channel" in output and "line 1: skipped" in output, output)
    check(harness.read(user_folder, "VESTRALUME/1/count.txt") == "6\n",
          "a failed import changed the catalogue")


def page(folder):
    return [int(n) for n in harness.read(folder, "VESTRALUME/n/z1.txt").split()]


def expect_sound(args, folder, when):
    sound, problems = harness.run_checker(args, folder)
    check(sound, "after %s the checker finds:\n%s" % (when, "\n".join(problems)))


class PlaylistHandler(http.server.BaseHTTPRequestHandler):
    """Answers /<name> from the server's table of playlists, /loop with a
    redirect to itself, anything else with 404."""

    def do_GET(self):
        name = self.path.lstrip("/")
        files = self.server.owner.files
        if name == "loop":
            self.send_response(302)
            self.send_header("Location", "/loop")
            self.end_headers()
        elif name in files:
            body = files[name].encode("utf-8")
            self.send_response(200)
            self.send_header("Content-Type", "audio/x-mpegurl")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
        else:
            self.send_error(404)

    def log_request(self, code="-", size="-"):
        self.server.owner.note(self.path, code)

    def log_message(self, *arguments):
        pass


def playlist_server(files):
    """Serves playlists on 127.0.0.1: /<name> from the table `files`, /404,
    and a redirect loop at /loop."""
    web = harness.HttpServer(PlaylistHandler)
    web.files = files
    return web


def test(args, server, folder):
    own_root(args, folder)
    harness.make_sample_root(args, folder)
    stub_dir, log = make_recorder(folder)
    add_player_recorder(stub_dir, log)
    env = {"PATH": stub_dir + ":" + os.environ["PATH"]}
    first = os.path.join(folder, "first.m3u")
    with open(first, "w") as f:
        f.write(playlist("alpha", COUNT))

    status, output = run_import(args, folder, first)
    print(output)
    check(status == 0, "the import failed with status %d:\n%s" % (status, output))
    check("Imported 30 channels" in output, "no summary:\n" + output)
    check(harness.read(folder, "VESTRALUME/1/count.txt") == "30\n", "count record")
    expect_sound(args, folder, "the first import")

    app = harness.Quillon(server, args.quillon, folder, env)
    try:
        before = harness.state_snapshot(folder)
        status, output = run_import(args, folder, first)
        check(status == 0 and "start Quillon" not in output,
              "the same playlist while the program runs (%d):\n%s" % (status, output))
        check(harness.state_snapshot(folder) == before, "the same playlist changed the state")
        check(app.alive(), "the program ended")

        settled_screen(app, "the first page of the imported catalogue")
        app.screenshot(os.path.join(folder, "imported-first-page.png"))
        app.key("Return")
        wait_until(lambda: len(opened_lines(log)) >= 2, 15, 0.1, "Enter to open tile 1")
        opened = sorted(opened_lines(log))
        check(opened == sorted(["1\t" + PRODUCT_PAGE,
                                "mpv\thttps://alpha.example/live/1/index.m3u8"]),
              "Enter on tile 1 opened %r" % opened)
        os.remove(log)

        # A favourite: channel 1, before the next import.
        app.key("a")
        wait_until(lambda: harness.read(folder, "VESTRALUME/n/d.txt") == "1", 15, 0.1,
                   "the favourite to be added")
        app.key("BackSpace")  # back to the catalogue
        app.key(*(["Next"] * 10), delay_ms=150)
        harness.wait_settled(folder, quiet=1.5)
        check(page(folder)[0] == LAST_FIRST,
              "Page Down stopped at %d, not %d" % (page(folder)[0], LAST_FIRST))
        for tile in range(1, 17):
            channel = LAST_FIRST + tile - 1
            expected = ("VESTRALUME/1/%d.Quillon" % channel if channel <= COUNT
                        else "VESTRALUME/i/%d.jpg" % tile)
            shown = harness.read(folder, "VESTRALUME/n/n%d.txt" % tile)
            check(shown == expected, "tile %d shows %s, not %s" % (tile, shown, expected))
        settled_screen(app, "the last page of the imported catalogue")
        app.screenshot(os.path.join(folder, "imported-last-page.png"))
        app.key("Escape")
        check(app.wait_exit() == 0, "Esc")
    finally:
        app.stop()

    # Another playlist, downloaded: the favourite keeps its address.
    web = playlist_server({"second.m3u": playlist("beta", 18)})
    try:
        status, output = run_import(args, folder, web.url() + "second.m3u")
        print(output)
        check(status == 0, "the download import failed:\n" + output)
        check(harness.read(folder, "VESTRALUME/1/count.txt") == "18\n", "count after the download")
        check(page(folder)[0] == 9, "the page was not brought inside 18 channels: %r" % page(folder))
        expect_sound(args, folder, "the downloaded import")
        before = harness.state_snapshot(folder)
        links = harness.read(folder, "VESTRALUME/links.tsv")
        for path, words in (("missing.m3u", "status 404"), ("loop", "redirects more than")):
            status, output = run_import(args, folder, web.url() + path)
            check(status != 0 and words in output,
                  "%s: status %d, output:\n%s" % (path, status, output))
            check("The catalogue was not changed" in output, output)
        check(harness.state_snapshot(folder) == before and
              harness.read(folder, "VESTRALUME/links.tsv") == links,
              "a failed download changed the root")
        check(harness.read(folder, "VESTRALUME/1/1.txt").split("\n")[1] == "Beta Channel 1",
              "channel 1 is not the first entry of the second playlist")
    finally:
        web.close()

    app = harness.Quillon(server, args.quillon, folder, env)
    try:
        harness.wait_settled(folder, quiet=1.0)
        app.key("BackSpace")  # the favourites
        harness.wait_settled(folder, quiet=1.0)
        app.key("Return")
        wait_until(lambda: opened_lines(log), 15, 0.1, "Enter on the favourite")
        opened = opened_lines(log)
        check(opened == ["mpv\thttps://alpha.example/live/1/index.m3u8"],
              "the favourite opened %r after the second import" % opened)
        app.key("Escape")
        app.wait_exit()
    finally:
        app.stop()
    expect_sound(args, folder, "the evening")


if __name__ == "__main__":
    harness.main(test)
