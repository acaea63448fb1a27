"""Several playlists make one catalogue, in the order given, and a channel a
playlist lists five times is one tile: opening it while its first address is
dead (connection refused) hands the second to the media player (a stand-in
mpv records which); --keep-duplicates keeps a tile for each entry. Servers on
127.0.0.1, ephemeral ports."""

import http.server
import os
import socket
import threading

import harness
from harness import check, wait_until
from test_evening import make_recorder, opened_lines
from test_import import add_player_recorder, expect_sound, playlist, run_import


def refused_port():
    """A port on 127.0.0.1 nobody listens on: taken from the system, then let go."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class StreamServer:
    """Answers every request with a few bytes; what matters is that it takes connections."""

    def __init__(self):
        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                self.send_response(200)
                self.send_header("Content-Length", "4")
                self.end_headers()
                self.wfile.write(b"ts..")

            def log_message(self, *arguments):
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.port = self.server.server_address[1]
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def close(self):
        self.server.shutdown()
        self.server.server_close()


def test(args, server, folder):
    harness.make_sample_root(args, folder)
    stub_dir, log = make_recorder(folder)
    add_player_recorder(stub_dir, log)
    env = {"PATH": stub_dir + ":" + os.environ["PATH"]}

    # Two playlists, one catalogue, in order.
    first, second = os.path.join(folder, "a.m3u"), os.path.join(folder, "b.m3u")
    with open(first, "w") as f:
        f.write(playlist("alpha", 5))
    with open(second, "w") as f:
        f.write(playlist("beta", 4))
    status, output = run_import(args, folder, first, second)
    print(output)
    check(status == 0 and "Imported 9 channels" in output, "two playlists:\n" + output)
    names = [harness.read(folder, "VESTRALUME/1/%d.txt" % n).split("\n")[1] for n in range(1, 10)]
    check(names == ["Alpha Channel %d" % n for n in range(1, 6)] +
          ["Beta Channel %d" % n for n in range(1, 5)], "the catalogue's order: %r" % names)
    expect_sound(args, folder, "two playlists")

    stream = StreamServer()
    dead = "http://127.0.0.1:%d/film/1.ts" % refused_port()
    alive = "http://127.0.0.1:%d/film/2.ts" % stream.port
    try:
        lines = ["#EXTM3U"]
        film = [dead, alive] + ["http://127.0.0.1:%d/film/%d.ts" % (stream.port, n) for n in (3, 4, 5)]
        for n, address in enumerate(film, 1):
            quality = ("HD", "SD", "FHD", "", "(backup)")[n - 1]
            lines += ['#EXTINF:-1 group-title="Movies",Film Channel %s' % quality, address]
        lines += ['#EXTINF:-1 group-title="News",News', "http://127.0.0.1:%d/news.ts" % stream.port]
        duplicates = os.path.join(folder, "dup.m3u")
        with open(duplicates, "w") as f:
            f.write("\n".join(lines) + "\n")

        status, output = run_import(args, folder, "--keep-duplicates", duplicates)
        check(status == 0 and harness.read(folder, "VESTRALUME/1/count.txt") == "6\n",
              "--keep-duplicates:\n" + output)
        check(not os.path.exists(os.path.join(folder, "VESTRALUME/1/alternatives.tsv")),
              "alternatives without a merge")
        status, output = run_import(args, folder, duplicates)
        print(output)
        check(status == 0 and "Imported 2 channels" in output and "4 entries merged" in output,
              "the merge:\n" + output)
        check(harness.read(folder, "VESTRALUME/1/count.txt") == "2\n", "one tile for the film")
        expect_sound(args, folder, "the merge")

        harness.write(folder, "VESTRALUME/n/b.txt", "1")
        harness.write(folder, "VESTRALUME/n/z1.txt", "\n".join(str(n) for n in range(1, 17)))
        app = harness.Quillon(server, args.quillon, folder, env)
        try:
            harness.wait_settled(folder, quiet=1.0)
            app.key("Return")
            wait_until(lambda: [l for l in opened_lines(log) if l.startswith("mpv\t")], 15, 0.1,
                       "Enter on the film")
            played = [l.split("\t", 1)[1] for l in opened_lines(log) if l.startswith("mpv\t")]
            check(played == [alive], "opened %r, not the second address %s" % (played, alive))
            app.key("Escape")
            check(app.wait_exit() == 0, "Esc")
        finally:
            app.stop()
    finally:
        stream.close()


if __name__ == "__main__":
    harness.main(test)
