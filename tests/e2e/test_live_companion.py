"""The live pictures' companion on its own, without a window: hostile
streams and kills. Servers on 127.0.0.1 (ephemeral ports, one per case,
all started once: the companion captures one stream per server at a time,
so the cases run side by side) offer: a working HLS stream; a server that
accepts and never answers; an endless body; an HLS playlist naming file:// segments (a canary file
outside the root); an 8K stream; an audio-only stream; a garbage body. One
run of `quillon-live --once` under strace gives each its status in time
(only the working one "live"), every thumbnail a whole picture, and no open
of the canary. Then the companion is killed with SIGKILL at random moments
30 times: the checker passes, and every thumbnail and kept card is whole.
Told "pause", it captures nothing (the server's log stays empty)."""

import os
import random
import shutil
import signal
import socket
import socketserver
import subprocess
import threading
import time

import harness
from harness import check, run_import, wait_until


class Raw(socketserver.ThreadingTCPServer):
    """Answers every connection with `answer(connection)`."""
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, answer):
        class Handler(socketserver.BaseRequestHandler):
            def handle(self):
                try:
                    answer(self.request)
                except OSError:
                    pass

        super().__init__(("127.0.0.1", 0), Handler)
        threading.Thread(target=self.serve_forever, daemon=True).start()

    def close(self):
        self.shutdown()
        self.server_close()


def never_answers(connection):
    time.sleep(30)


def endless_body(connection):
    connection.recv(4096)
    connection.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: video/mp2t\r\n\r\n")
    chunk = bytes(random.getrandbits(8) for _ in range(65536))
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline:
        connection.sendall(chunk)


def garbage_body(connection):
    connection.recv(4096)
    body = bytes(random.getrandbits(8) for _ in range(20000))
    connection.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: video/mp2t\r\nContent-Length: %d\r\n\r\n"
                       % len(body) + body)


def ffmpeg(*arguments):
    subprocess.run(["ffmpeg", "-hide_banner", "-loglevel", "error", "-y"] + list(arguments), check=True)


def is_whole_jpeg(path):
    with open(path, "rb") as f:
        data = f.read()
    return data[:2] == b"\xff\xd8" and data.rstrip(b"\0")[-2:] == b"\xff\xd9"


def companion(args):
    return os.path.join(args.build, "quillon-live")


def test(args, server, folder):
    www = os.path.join(folder, "www")
    for name in ("good", "8k", "audio", "files"):
        os.makedirs(os.path.join(www, name))
    ffmpeg("-f", "lavfi", "-i", "color=c=0x20c040:s=160x90:r=5:d=3", "-c:v", "libx264", "-preset",
           "ultrafast", "-g", "5", "-f", "hls", "-hls_time", "1", "-hls_playlist_type", "vod",
           os.path.join(www, "good", "index.m3u8"))
    ffmpeg("-f", "lavfi", "-i", "color=c=red:s=7680x4320:r=1:d=1", "-frames:v", "1", "-c:v",
           "mpeg2video", "-f", "mpegts", os.path.join(www, "8k", "stream.ts"))
    ffmpeg("-f", "lavfi", "-i", "sine=frequency=440:duration=3", "-c:a", "aac", "-f", "mpegts",
           os.path.join(www, "audio", "stream.ts"))
    canary = os.path.join(folder, "canary.ts")
    with open(canary, "wb") as f:
        f.write(open(os.path.join(www, "good", "index0.ts"), "rb").read())
    with open(os.path.join(www, "files", "index.m3u8"), "w") as f:
        f.write("#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXTINF:1,\nfile://%s\n#EXT-X-ENDLIST\n" % canary)

    servers = []
    try:
        def files():
            servers.append(harness.HttpServer(folder=www))
            return servers[-1]

        def raw(answer):
            servers.append(Raw(answer))
            return "http://127.0.0.1:%d/stream.ts" % servers[-1].server_address[1]

        def at(server, path):
            return server.url(path)

        good, eight, audio, listing = files(), files(), files(), files()
        cases = [  # (name, address, expected states)
            ("working", at(good, "good/index.m3u8"), {"live"}),
            ("silent server", raw(never_answers), {"timed out"}),
            ("endless body", raw(endless_body), {"not a stream", "timed out"}),
            ("file segments", at(listing, "files/index.m3u8"), {"not a stream", "refused", "no video"}),
            ("8K stream", at(eight, "8k/stream.ts"), {"not a stream"}),
            ("audio only", at(audio, "audio/stream.ts"), {"no video"}),
            ("garbage body", raw(garbage_body), {"not a stream"}),
        ]
        harness.make_sample_root(args, folder)
        playlist = os.path.join(folder, "hostile.m3u")
        with open(playlist, "w") as f:
            f.write("#EXTM3U\n")
            for name, address, _ in cases:
                f.write("#EXTINF:-1,%s\n%s\n" % (name, address))
        status, output = run_import(args, folder, "--wait", playlist)
        check(status == 0, "the import failed with status %d:\n%s" % (status, output))
        harness.write(folder, "VESTRALUME/live.txt", "connections 8\n")

        env = dict(os.environ, ASAN_OPTIONS="detect_leaks=0:abort_on_error=1")
        trace = os.path.join(folder, "trace.txt")
        start = time.monotonic()
        run = subprocess.run(["strace", "-f", "-qq", "-e", "trace=open,openat,openat2", "-o", trace,
                              companion(args), "--once", "--log"], cwd=folder, env=env,
                             capture_output=True, text=True, timeout=60)
        took = time.monotonic() - start
        check(run.returncode == 0, "the companion failed (%d):\n%s" % (run.returncode, run.stderr))
        check(took < 25, "the hostile cases took %.1f s" % took)
        with open(trace) as f:
            opened = f.read()
        check("links.tsv" in opened, "strace saw no opens")
        check(canary not in opened, "the canary outside the root was opened")
        for n, (name, _, expected) in enumerate(cases, 1):
            text = harness.read(folder, "VESTRALUME/live/1-%d.txt" % n)
            state = text.split("\t")[0]
            check(state in expected, "%s: status %r, expected one of %s\n%s" % (name, text, expected, run.stderr))
            check(is_whole_jpeg(os.path.join(folder, "VESTRALUME", "1", "%d.Quillon" % n)),
                  "%s: the thumbnail is not whole" % name)
            check(is_whole_jpeg(os.path.join(folder, "VESTRALUME", "live", "1-%d.jpg" % n)),
                  "%s: the card was not kept" % name)
        print("hostile cases in %.1f s" % took)

        # Paused: nothing is captured.
        asked = len(good.requests)
        paused = subprocess.Popen([companion(args)], cwd=folder, env=env, stdin=subprocess.PIPE)
        paused.stdin.write(b"pause\n")
        paused.stdin.flush()
        time.sleep(3)
        check(len(good.requests) == asked, "captured while paused: %s" % good.requests[asked:])
        paused.stdin.write(b"resume\n")
        paused.stdin.flush()
        wait_until(lambda: len(good.requests) > asked, 10, 0.1, "a capture after resume")
        paused.stdin.close()  # the viewer is gone: the companion ends
        check(paused.wait(timeout=15) == 0, "the companion did not end with its viewer")

        # Killed at random moments: every file whole, the checker content.
        rng = random.Random(7)
        for kill in range(30):
            victim = subprocess.Popen([companion(args), "--once"], cwd=folder, env=env,
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            time.sleep(rng.uniform(0.02, 0.6))
            victim.send_signal(signal.SIGKILL)
            victim.wait()
        last = subprocess.run([companion(args), "--once"], cwd=folder, env=env, timeout=60)
        check(last.returncode == 0, "the companion after the kills ended with %d" % last.returncode)
        for n in range(1, len(cases) + 1):
            check(is_whole_jpeg(os.path.join(folder, "VESTRALUME", "1", "%d.Quillon" % n)),
                  "thumbnail %d is not whole after the kills" % n)
            with open(os.path.join(folder, "VESTRALUME", "live", "1-%d.jpg" % n), "rb") as f:
                card = f.read()
            check(is_whole_jpeg(os.path.join(folder, "VESTRALUME", "live", "1-%d.jpg" % n))
                  and b"Quillon live picture" not in card[:64], "kept card %d is not the card" % n)
        leftovers = [name for sub in ("1", "live") for name in os.listdir(os.path.join(folder, "VESTRALUME", sub))
                     if name.startswith(".")]
        check(not leftovers, "temporary files left: %s" % leftovers)
        sound, problems = harness.run_checker(args, folder)
        check(sound, "the checker finds:\n" + "\n".join(problems))

        # Favourites: the first is captured; a slot above the count, whose
        # link file an earlier favourite left, stays blank.
        for n in (1, 2):
            shutil.copy(os.path.join(folder, "VESTRALUME", "1", "1.txt"),
                        os.path.join(folder, "VESTRALUME", "2", "%d.txt" % n))
        harness.write(folder, "VESTRALUME/n/d.txt", "1")
        blank = open(os.path.join(folder, "VESTRALUME", "2", "2.Quillon"), "rb").read()
        subprocess.run([companion(args), "--once", "--list", "2"], cwd=folder, env=env, timeout=60, check=True)
        check(harness.read(folder, "VESTRALUME/live/2-1.txt").startswith("live"), "favourite 1 not captured")
        check(open(os.path.join(folder, "VESTRALUME", "2", "2.Quillon"), "rb").read() == blank,
              "a blank favourite slot was captured")
        check(not os.path.exists(os.path.join(folder, "VESTRALUME", "live", "2-2.txt")), "slot 2 has a status")

        # The same playlist again: recognised at once, the live pictures kept.
        def thumbnails():
            found = {}
            for n in range(1, len(cases) + 1):
                with open(os.path.join(folder, "VESTRALUME", "1", "%d.Quillon" % n), "rb") as f:
                    found[n] = f.read()
            return found
        before = thumbnails()
        status, output = run_import(args, folder, "--wait", playlist)
        check(status == 0 and "already holds exactly this playlist" in output,
              "the same playlist again was not recognised (%d):\n%s" % (status, output))
        check(thumbnails() == before, "the same playlist again changed the thumbnails")
    finally:
        for s in servers:
            s.close()


if __name__ == "__main__":
    harness.main(test)
