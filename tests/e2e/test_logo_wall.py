"""A wall of real channel cards: a playlist whose entries carry logos served
from 127.0.0.1 (PNG with transparency, JPEG, SVG, GIF; one that is missing)
and names in many scripts goes in with quillon-import, and the real program
shows the cards on its first page. The screenshot is kept as
<build>/logo-wall.png to be looked at. Importing the same playlist again asks
the logo server nothing and changes nothing."""

import os
import subprocess
import sys
import time

import harness
from harness import check, wait_until
from test_evening import settled_screen

# (name, logo file or None for none, how ImageMagick draws the logo)
CHANNELS = [
    ("World News 24", "news.png",
     ["-size", "320x160", "xc:none", "-fill", "#c8102e", "-draw", "roundrectangle 10,10 310,150 30,30",
      "-fill", "white", "-draw", "circle 80,80 80,30"]),
    ("\u4e2d\u592e\u65b0\u95fb\u53f0", "china.jpg",
     ["-size", "300x300", "xc:#de2910", "-fill", "#ffde00", "-draw", "circle 150,150 150,60"]),
    ("\u0642\u0646\u0627\u0629 \u0627\u0644\u0623\u062e\u0628\u0627\u0631", "arabic.svg", None),
    ("\u041f\u0435\u0440\u0432\u044b\u0439 \u043a\u0430\u043d\u0430\u043b", "first.gif",
     ["-size", "200x120", "xc:#0039a6", "-fill", "white", "-draw", "rectangle 0,40 200,80"]),
    ("\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ae \u03a4\u03b7\u03bb\u03b5\u03cc\u03c1\u03b1\u03c3\u03b7",
     None, None),
    ("\u05e2\u05e8\u05d5\u05e5 \u05db\u05d0\u05df", "missing.png", None),
    ("\u0926\u0942\u0930\u0926\u0930\u094d\u0936\u0928", "india.png",
     ["-size", "240x240", "xc:none", "-fill", "#ff9933", "-draw", "circle 120,120 120,10"]),
    ("\u0e0a\u0e48\u0e2d\u0e07\u0e44\u0e17\u0e22", "thai.png",
     ["-size", "300x150", "xc:#2d2a4a", "-fill", "#a51931", "-draw", "rectangle 0,50 300,100"]),
    ("\u65e5\u672c\u30c6\u30ec\u30d3", "japan.png",
     ["-size", "300x200", "xc:white", "-fill", "#bc002d", "-draw", "circle 150,100 150,40"]),
    ("\ud55c\uad6d \ubc29\uc1a1", "korea.png",
     ["-size", "300x200", "xc:white", "-fill", "#0047a0", "-draw", "circle 150,100 150,50"]),
    ("Sport Extra HD", "sport.png",
     ["-size", "400x100", "xc:#006400", "-fill", "white", "-draw", "rectangle 20,45 380,55"]),
    ("Kids Cartoon Channel", "kids.png",
     ["-size", "200x200", "xc:none", "-fill", "#ff69b4", "-draw", "polygon 100,10 190,190 10,190"]),
    ("A channel with a name far too long to fit on a single card at all", "long.png",
     ["-size", "160x160", "xc:#333333", "-fill", "#ffd700", "-draw", "circle 80,80 80,20"]),
    ("Music Hits", "music.png",
     ["-size", "300x120", "xc:#4b0082", "-fill", "#00ffff", "-draw", "ellipse 150,60 120,40 0,360"]),
    ("Documentary One", "docs.jpg",
     ["-size", "300x200", "xc:#8b4513", "-fill", "#f5deb3", "-draw", "rectangle 60,40 240,160"]),
    ("Weather Now", "weather.png",
     ["-size", "300x200", "xc:#87ceeb", "-fill", "#ffff00", "-draw", "circle 100,100 100,40"]),
]

ARABIC_SVG = """<svg xmlns="http://www.w3.org/2000/svg" width="300" height="150" viewBox="0 0 300 150">
<rect width="300" height="150" rx="20" fill="#007a3d"/>
<circle cx="150" cy="75" r="50" fill="#ffffff"/>
<circle cx="165" cy="75" r="42" fill="#007a3d"/>
</svg>
"""


def make_logos(folder):
    logos = os.path.join(folder, "logos")
    os.makedirs(logos)
    for _, logo, drawing in CHANNELS:
        if logo == "arabic.svg":
            with open(os.path.join(logos, logo), "w") as f:
                f.write(ARABIC_SVG)
        elif drawing:
            subprocess.run(["/usr/bin/convert"] + drawing + [os.path.join(logos, logo)], check=True)
    return logos


class LogoServer:
    def __init__(self, args, folder, logos):
        self.port_file = os.path.join(folder, "logo-port")
        self.log = os.path.join(folder, "logo-requests.log")
        script = os.path.join(args.source, "tests", "support", "logo_server.py")
        self.process = subprocess.Popen([sys.executable, script, "--folder", logos, "--port-file",
                                         self.port_file, "--log", self.log])
        wait_until(lambda: os.path.exists(self.port_file), 15, 0.1, "the logo server")
        with open(self.port_file) as f:
            self.address = "http://127.0.0.1:%s/good/" % f.read().strip()

    def requests(self):
        with open(self.log) as f:
            return [line for line in f.read().splitlines() if line.strip()]

    def close(self):
        self.process.terminate()
        self.process.wait(10)


def run_import(args, folder, playlist):
    # --wait: every card made before the import returns, so the summary
    # counts every logo (test_fast_import.py covers cards made later).
    result = subprocess.run(harness.importer_command(args, folder, "--wait", playlist),
                            env=harness.importer_env(folder), capture_output=True, text=True,
                            timeout=300)
    print(result.stdout + result.stderr)
    return result


def test(args, server, folder):
    harness.make_sample_root(args, folder)
    logos = make_logos(folder)
    web = LogoServer(args, folder, logos)
    try:
        playlist = os.path.join(folder, "channels.m3u8")
        with open(playlist, "w", encoding="utf-8") as f:
            f.write("#EXTM3U\n")
            for n, (name, logo, _) in enumerate(CHANNELS, 1):
                attribute = ' tvg-logo="%s%s"' % (web.address, logo) if logo else ""
                f.write('#EXTINF:-1 tvg-id="c%d"%s group-title="World",%s\n' % (n, attribute, name))
                f.write("https://streams.example/%d/index.m3u8\n" % n)

        result = run_import(args, folder, playlist)
        check(result.returncode == 0, "the import failed")
        check("Imported 16 channels" in result.stdout + result.stderr, "no summary")
        with_logos = sum(1 for _, logo, _ in CHANNELS if logo and logo != "missing.png")
        check("Logos: %d fetched" % with_logos in result.stdout + result.stderr,
              "not every logo was fetched")
        asked = len(web.requests())

        app = harness.Quillon(server, args.quillon, folder)
        try:
            settled_screen(app, "the wall of cards")
            for tile in range(1, 17):
                shown = harness.read(folder, "VESTRALUME/n/n%d.txt" % tile)
                check(shown == "VESTRALUME/1/%d.Quillon" % tile,
                      "tile %d shows %s" % (tile, shown))
            shot = os.path.join(args.build, "logo-wall.png")
            image = app.screenshot(shot)
            print("the wall of cards: " + shot)
            # Sixteen different cards: many colours, not a wall of placeholders.
            colours = {image.data[i:i + 3] for i in range(0, len(image.data), 3 * 97)}
            check(len(colours) > 200, "the wall shows only %d colours" % len(colours))
            app.key("Escape")
            check(app.wait_exit() == 0, "Esc")
        finally:
            app.stop()

        before = {name: os.stat(os.path.join(folder, "VESTRALUME", "1", name)).st_mtime_ns
                  for name in os.listdir(os.path.join(folder, "VESTRALUME", "1"))}
        time.sleep(0.05)
        again = run_import(args, folder, playlist)
        check(again.returncode == 0 and "already holds exactly this playlist" in again.stdout + again.stderr,
              "the same playlist again was not recognised")
        check(len(web.requests()) == asked,
              "the logo server was asked again: %s" % web.requests()[asked:])
        after = {name: os.stat(os.path.join(folder, "VESTRALUME", "1", name)).st_mtime_ns
                 for name in os.listdir(os.path.join(folder, "VESTRALUME", "1"))}
        check(after == before, "the same playlist again wrote the catalogue")
        sound, problems = harness.run_checker(args, folder)
        check(sound, "the checker finds:\n" + "\n".join(problems))
    finally:
        web.close()


if __name__ == "__main__":
    harness.main(test)
