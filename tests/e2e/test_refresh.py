"""Playlists refreshed from the provider: a list served on 127.0.0.1 is
imported; quillon-import --refresh against the unchanged list makes one
request, answered 304, and writes nothing; against a failing server it
changes nothing and says why in one message; against a changed list it
imports the new channels and the favourites keep their addresses. With the
interval shortened, the running wall refreshes by itself, in the background,
and shows the new catalogue."""

import http.server
import os
import time

import harness
from harness import check, wait_until
from test_import import playlist, run_import


class ProviderHandler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        provider = self.server.owner
        sent = self.headers.get("If-None-Match")
        etag = '"v%d"' % provider.version
        if provider.failing:
            status = 500
            self.send_error(500)
        elif sent == etag:
            status = 304
            self.send_response(304)
            self.send_header("ETag", etag)
            self.end_headers()
        else:
            status = 200
            body = provider.bodies[provider.version].encode("utf-8")
            self.send_response(200)
            self.send_header("ETag", etag)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
        provider.exchanges.append((sent, status))

    def log_message(self, *arguments):
        pass


class Provider(harness.HttpServer):
    """One playlist at /list.m3u with an ETag; a conditional request for the
    version served answers 304. `failing` makes every answer a 500."""

    def __init__(self):
        self.version = 1
        self.bodies = {}
        self.failing = False
        self.exchanges = []  # (If-None-Match sent, status answered)
        super().__init__(ProviderHandler)
        self.address = self.url("list.m3u")


def root_snapshot(folder):
    """Every file of the data root with its size and modification time."""
    files = {}
    for base, _, names in os.walk(os.path.join(folder, "VESTRALUME")):
        for name in names:
            path = os.path.join(base, name)
            info = os.lstat(path)
            files[path] = (info.st_size, info.st_mtime_ns, info.st_ino)
    return files


def address_of(folder, link):
    for line in harness.read(folder, "VESTRALUME/links.tsv").splitlines():
        fields = line.split("\t")
        if fields[0] == str(link):
            return fields[1]
    return None


def test(args, server, folder):
    harness.make_sample_root(args, folder)
    provider = Provider()
    provider.bodies = {1: playlist("alpha", 6), 2: playlist("beta", 4), 3: playlist("gamma", 5)}
    try:
        status, output = run_import(args, folder, provider.address)
        check(status == 0 and harness.read(folder, "VESTRALUME/1/count.txt") == "6\n",
              "the first import:\n" + output)
        sources = harness.read(folder, "VESTRALUME/sources.tsv")
        check(provider.address in sources and '"v1"' in sources, "what was remembered:\n" + sources)
        # A favourite, as the wall adds one: channel 1's files copied to the favourites.
        for kind in ("txt", "Quillon"):
            with open(os.path.join(folder, "VESTRALUME/1/1." + kind), "rb") as f:
                data = f.read()
            with open(os.path.join(folder, "VESTRALUME/2/1." + kind), "wb") as f:
                f.write(data)
        harness.write(folder, "VESTRALUME/n/d.txt", "1")
        favourite_link = int(harness.read(folder, "VESTRALUME/2/1.txt").split("\n")[0])
        wait_until(lambda: not harness.card_makers(folder), 60, 0.2, "the background card maker")

        # Unchanged: one request, answered 304, nothing written.
        del provider.exchanges[:]
        before = root_snapshot(folder)
        status, output = run_import(args, folder, "--refresh")
        print(output)
        check(status == 0 and "have not changed" in output, "the unchanged refresh:\n" + output)
        check(provider.exchanges == [('"v1"', 304)], "requests: %r" % provider.exchanges)
        check(root_snapshot(folder) == before, "an unchanged refresh wrote something")

        # A failing server: nothing changed, one clear message.
        provider.failing = True
        status, output = run_import(args, folder, "--refresh")
        print(output)
        lines = [line for line in output.splitlines() if line.strip()]
        check(status != 0 and len(lines) == 1 and "cannot refresh" in lines[0] and "500" in lines[0]
              and "Nothing was changed" in lines[0], "the failing refresh said:\n" + output)
        check(root_snapshot(folder) == before, "a failing refresh changed the root")
        provider.failing = False

        # Changed: the new channels; the favourite keeps its address. The
        # interval is shortened for the automatic refresh below.
        provider.version = 2
        status, output = run_import(args, folder, "--refresh", "--refresh-every", "0.0005")
        print(output)
        check(status == 0 and "Imported 4 channels" in output, "the changed refresh:\n" + output)
        check(harness.read(folder, "VESTRALUME/1/1.txt").split("\n")[1] == "Beta Channel 1",
              "the new channels are not in the catalogue")
        check(harness.read(folder, "VESTRALUME/n/d.txt") == "1", "the favourites count changed")
        check(address_of(folder, favourite_link) == "https://alpha.example/live/1/index.m3u8",
              "the favourite's link now names %r" % address_of(folder, favourite_link))
        sound, problems = harness.run_checker(args, folder)
        check(sound, "after the refresh:\n" + "\n".join(problems))

        # The wall refreshes by itself once the interval (1.8 s) has passed.
        provider.version = 3
        time.sleep(2)
        app = harness.Quillon(server, args.quillon, folder)
        try:
            wait_until(lambda: harness.read(folder, "VESTRALUME/1/count.txt") == "5\n", 30, 0.2,
                       "the automatic refresh")
            check(app.alive(), "the program ended")
            harness.wait_settled(folder, quiet=1.0)
            check(harness.read(folder, "VESTRALUME/1/1.txt").split("\n")[1] == "Gamma Channel 1",
                  "the automatic refresh imported something else")
            app.key("Escape")
            check(app.wait_exit() == 0, "Esc")
        finally:
            app.stop()
        check(address_of(folder, favourite_link) == "https://alpha.example/live/1/index.m3u8",
              "the favourite lost its address")
    finally:
        provider.close()


if __name__ == "__main__":
    harness.main(test)
