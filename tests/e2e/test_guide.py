"""The programme guide on the wall: a playlist whose url-tvg names a gzipped
XMLTV guide served from 127.0.0.1, with programmes around the current time
in many scripts, goes in with quillon-import. The command-line view lists the
right programme on now and next for every channel (by tvg-id, by name, with a
tvg-shift); the real program shows cards with the titles (the screenshot is
kept as <build>/guide-wall.png to be looked at); channel 1 changes programme
every 10 seconds, and its card follows while the program runs; Esc ends the
guide updater with the program; fetched again, the unchanged guide is only
revalidated."""

import gzip
import os
import subprocess
import time
from datetime import datetime, timezone

import harness
from harness import check, wait_until
from test_evening import settled_screen

# (channel name, tvg-id or None: matched by name, tvg-shift, title on now)
CHANNELS = [
    ("Clock One", "clock.one", "", None),  # changes every 10 s
    ("World News 24", "news.int", "", "World News at Noon"),
    ("Первый канал", "perviy.ru", "", "Вечерние новости"),
    ("Al Jazeera", "aj.qa", "", "الحصاد الإخباري"),
    ("CCTV 1", "cctv1.cn", "", "新闻联播"),
    ("DD National", "dd.in", "", "समाचार संध्या"),
    ("ERT 1", "ert1.gr", "", "Ειδήσεις της βραδιάς"),
    ("Kan 11", "kan11.il", "", "חדשות הערב"),
    ("Thai PBS", "tpbs.th", "", "ข่าวค่ำ"),
    ("NHK General", "nhk.jp", "", "ニュース７"),
    ("KBS 1TV", "kbs1.kr", "", "뉴스 9"),
    ("Arte HD", None, "", "Le documentaire du soir"),  # by display name "ARTE"
    ("Sport Extra +1", "sport.extra", "+1", "Football Highlights"),
    ("Kids Cartoon Channel", "kids.tv", "", "Cartoon Time"),
    ("Music Hits", "music.tv", "", "Top 40 Countdown"),
    ("No Guide Channel", "nothing.here", "", None),
]
SEGMENT = 10


def stamp(seconds, offset_minutes=0):
    sign = "+" if offset_minutes >= 0 else "-"
    local = datetime.fromtimestamp(seconds + offset_minutes * 60, timezone.utc)
    return local.strftime("%Y%m%d%H%M%S") + " %s%02d%02d" % (sign, abs(offset_minutes) // 60,
                                                           abs(offset_minutes) % 60)


def clock(seconds):
    return datetime.fromtimestamp(seconds, timezone.utc).strftime("%H:%M")


def make_guide(path, now):
    """Programmes for every channel but the last; the times of each written
    in one of three zones. Returns the schedule: {number: (programmes,
    shift seconds)}."""
    from xml.sax.saxutils import escape
    offsets = [0, -300, 330]
    parts = ['<?xml version="1.0" encoding="UTF-8"?>\n<!DOCTYPE tv SYSTEM "xmltv.dtd">\n<tv>\n']
    schedule = {}
    for number, (name, tvg_id, shift, title) in enumerate(CHANNELS, 1):
        if number == len(CHANNELS):
            break
        channel = tvg_id or "arte.fr"
        display = "ARTE" if tvg_id is None else name
        parts.append('<channel id="%s"><display-name>%s</display-name></channel>\n'
                     % (channel, escape(display)))
        offset = offsets[number % 3]
        programmes = []
        if title is None:
            base = now - now % SEGMENT
            for k in range(-30, 400):
                start = base + k * SEGMENT
                programmes.append((start, start + SEGMENT, "Segment %d" % (start // SEGMENT)))
        else:
            start = now - now % 600 - 1200
            programmes.append((start - 3600, start, "Earlier"))
            programmes.append((start, start + 3600, title))
            programmes.append((start + 3600, start + 7200, "Next: " + title))
        for start, stop, text in programmes:
            parts.append('<programme start="%s" stop="%s" channel="%s"><title>%s</title>'
                         '<desc>%s</desc></programme>\n'
                         % (stamp(start, offset), stamp(stop, offset), channel, escape(text),
                            "x" * 200))
        schedule[number] = (programmes, 3600 if shift == "+1" else 0)
    parts.append("</tv>\n")
    with gzip.open(path, "wt", encoding="utf-8") as f:
        f.write("".join(parts))
    return schedule


def expected_at(schedule, now):
    """{number: (title, start, end, next title)} as the command-line view
    must show them at `now`."""
    expected = {}
    for number, (programmes, shift) in schedule.items():
        for i, (start, stop, text) in enumerate(programmes):
            if start + shift <= now < stop + shift:
                following = programmes[i + 1][2] if i + 1 < len(programmes) else ""
                expected[number] = (text, clock(start + shift), clock(stop + shift), following)
    return expected


def tool_env(folder):
    return harness.importer_env(folder, {"TZ": "UTC"})


def now_lines(args, folder):
    result = subprocess.run(harness.importer_command(args, folder, "--now"), env=tool_env(folder),
                            capture_output=True, text=True, timeout=60)
    check(result.returncode == 0, "--now failed: " + result.stderr)
    return [line.split("\t") for line in result.stdout.splitlines()]


def card_bytes(folder, number):
    with open(os.path.join(folder, "VESTRALUME", "1", "%d.Quillon" % number), "rb") as f:
        return f.read()


def updaters(viewer_pid):
    found = []
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                arguments = f.read().split(b"\0")
        except OSError:
            continue
        if arguments and arguments[0].endswith(b"quillon-guide") and \
                str(viewer_pid).encode() in arguments:
            found.append(int(pid))
    return found


def tile_region(app, folder, tile):
    """Pixels around a point of a tile, as a bytes value."""
    image = app.screenshot()
    x, y = harness.tile_point(float(harness.read(folder, "VESTRALUME/n/u.txt")), tile)
    x, y = int(x), int(y)
    ox, oy = image.origin
    rows = []
    for dy in range(-30, 31, 3):
        for dx in range(-30, 31, 3):
            px, py = x + dx - ox, y + dy - oy
            if 0 <= px < image.width and 0 <= py < image.height:
                i = (py * image.width + px) * 3
                rows.append(image.data[i:i + 3])
    return b"".join(rows)


def test(args, server, folder):
    harness.make_sample_root(args, folder)
    www = os.path.join(folder, "www")
    os.makedirs(www)
    web = harness.HttpServer(folder=www)
    try:
        now = int(time.time())
        schedule = make_guide(os.path.join(www, "guide.xml.gz"), now)
        playlist = os.path.join(folder, "channels.m3u")
        with open(playlist, "w", encoding="utf-8") as f:
            f.write('#EXTM3U url-tvg="%sguide.xml.gz"\n' % web.url())
            for number, (name, tvg_id, shift, _) in enumerate(CHANNELS, 1):
                attributes = (' tvg-id="%s"' % tvg_id if tvg_id else "") + \
                             (' tvg-shift="%s"' % shift if shift else "")
                f.write("#EXTINF:-1%s,%s\nhttps://streams.example/%d.m3u8\n"
                        % (attributes, name, number))
        result = subprocess.run(harness.importer_command(args, folder, playlist), env=tool_env(folder), capture_output=True,
                                text=True, timeout=300)
        print(result.stdout + result.stderr)
        check(result.returncode == 0, "the import failed")
        check("cards show what is on" in result.stdout, "the guide was not read at import")
        check(web.answers == [("/guide.xml.gz", "200")], "guide requests: %s" % web.answers)

        # The command-line view, right for every channel at the time it runs.
        asked = time.time()
        lines = now_lines(args, folder)
        expected = expected_at(schedule, int(asked))
        check(len(lines) == len(CHANNELS), "%d lines" % len(lines))
        for number, fields in enumerate(lines, 1):
            check(len(fields) == 6, "line %d: %s" % (number, fields))
            check(fields[0] == str(number) and fields[1] == CHANNELS[number - 1][0],
                  "line %d names %s" % (number, fields[:2]))
            if number == 1:
                check(fields[2].startswith("Segment "), "channel 1 shows %s" % fields)
                continue
            want = expected.get(number, ("", "", "", ""))
            check(tuple(fields[2:]) == want, "channel %d: %s, not %s" % (number, fields[2:], want))

        app = harness.Quillon(server, args.quillon, folder, env={"TZ": "UTC", "XDG_CACHE_HOME":
                                                                 os.path.join(folder, "cache")})
        try:
            wait_until(lambda: updaters(app.process.pid), 20, 0.2, "the guide updater")
            def colourful():
                image = app.screenshot()
                return len({image.data[i:i + 3] for i in range(0, len(image.data), 3 * 97)}) > 200
            wait_until(colourful, 60, 0.5, "the wall drawn")
            settled_screen(app, "the wall of programme cards")
            shot = os.path.join(args.build, "guide-wall.png")
            app.screenshot(shot)
            print("the wall with the guide: " + shot)

            # The changeover: channel 1's programme ends every 10 s.
            first = now_lines(args, folder)[0][2]
            card = card_bytes(folder, 1)
            screen = tile_region(app, folder, 1)
            wait_until(lambda: now_lines(args, folder)[0][2] != first, SEGMENT + 10, 0.5,
                       "the next programme of channel 1")
            changed = time.time()
            wait_until(lambda: card_bytes(folder, 1) != card, 60, 0.2,
                       "a new card for channel 1")
            print("card renewed %.1f s after the programme changed" % (time.time() - changed))
            wait_until(lambda: tile_region(app, folder, 1) != screen, 60, 0.5,
                       "the new card of channel 1 on the wall")
            print("on the wall %.1f s after the programme changed" % (time.time() - changed))
            check(not harness.sanitizer_reports(app.output()), app.output())

            viewer = app.process.pid
            app.key("Escape")
            check(app.wait_exit() == 0, "Esc")
            wait_until(lambda: not updaters(viewer), 10, 0.2, "the guide updater to end")
        finally:
            app.stop()
        # Fetched again, the unchanged guide is not downloaded: the server is
        # asked with the date it gave and answers 304.
        again = subprocess.run([os.path.join(args.build, "tools", "quillon-guide"), "--refresh",
                                "--root", folder], env=tool_env(folder), capture_output=True,
                               text=True, timeout=120)
        print(again.stdout + again.stderr)
        check(again.returncode == 0, "the refresh failed")
        check(web.answers[1:] == [("/guide.xml.gz", "304")], "guide requests: %s" % web.answers)
        sound, problems = harness.run_checker(args, folder)
        check(sound, "the checker finds:\n" + "\n".join(problems))
    finally:
        web.close()


if __name__ == "__main__":
    harness.main(test)
