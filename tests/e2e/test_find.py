"""Finding a channel by typing its name, in the real window. A playlist with
names in Latin, Cyrillic, Chinese, Arabic and Greek is imported with
quillon-import; on a page and tile away from the start, `/` opens find mode
and "perv" shows "Первый канал" first, with the query in a band above the
wall; Enter opens its address in the stand-in player; `a` types into the
query and adds no favourite; a query matching nothing shows an empty wall
and Backspace brings the matches back; "zhongyang" finds "中央新闻" and a
group's name its channels; Esc brings back the page and the selected tile
left, as they were on screen, and Esc on the wall still quits."""

import os

import harness
from harness import check, run_import, wait_until
from test_evening import differing_share, make_recorder, opened_lines, settled_screen
from test_import import add_player_recorder

# (name, group) in playlist order; channel numbers count from 1.
CHANNELS = [
    ("BBC One", "News"), ("Superperv", "Fun"), ("Euronews", "News"), ("Arte", "Culture"),
    ("Sky Sport", "Sport"), ("TV5 Monde", "Culture"), ("Rai Uno", "General"),
    ("Kanal Pervyy HD", "General"), ("Россия 24", "News"), ("НТВ", "General"),
    ("Матч ТВ", "Sport"), ("Карусель", "Kids"), ("中央新闻", "News"), ("湖南卫视", "General"),
    ("CCTV-5 体育", "Sport"), ("الجزيرة", "News"), ("العربية", "News"), ("MBC مصر", "General"),
    ("ΕΡΤ1", "General"), ("Αθήνα TV", "General"), ("Σκάι", "News"), ("Cartoon Network", "Kids"),
    ("Первый канал", "General"), ("Discovery", "Docs"), ("National Geographic", "Docs"),
    ("Eurosport 1", "Sport"), ("France 24", "News"), ("Deutsche Welle", "News"),
]
FIRST_CHANNEL = CHANNELS.index(("Первый канал", "General")) + 1
NEWS_CHANNEL = CHANNELS.index(("中央新闻", "News")) + 1
GROUP_NEWS = [n + 1 for n, (_, group) in enumerate(CHANNELS) if group == "News"]


def address(channel):
    return "https://find.example/live/%d/index.m3u8" % channel


def playlist():
    lines = ["#EXTM3U"]
    for n, (name, group) in enumerate(CHANNELS, 1):
        lines.append('#EXTINF:-1 group-title="%s",%s' % (group, name))
        lines.append(address(n))
    return "\n".join(lines) + "\n"


def tile_paths(folder, suffix):
    return [harness.read(folder, "VESTRALUME/n/n%d%s.txt" % (tile, suffix)) for tile in range(1, 17)]


def found_paths(channels):
    """The tile paths of find mode's wall showing `channels` first."""
    return ["VESTRALUME/1/%d.Quillon" % channels[tile - 1] if tile <= len(channels)
            else "VESTRALUME/i/%d.jpg" % tile for tile in range(1, 17)]


def band_is_shown(shot):
    """Find mode's band across the top: dark, with white text at its left."""
    dark = all(max(shot.pixel(x, 6)) < 60 for x in range(10, 1900, 50))
    text = any(min(shot.pixel(x, y)) > 200 for x in range(24, 400) for y in range(14, 36))
    return dark and text


def test(args, server, folder):
    harness.make_sample_root(args, folder)
    stub_dir, log = make_recorder(folder)
    add_player_recorder(stub_dir, log)
    source = os.path.join(folder, "scripts.m3u")
    with open(source, "w", encoding="utf-8") as f:
        f.write(playlist())
    status, output = run_import(args, folder, source)
    check(status == 0, "the import failed with status %d:\n%s" % (status, output))
    index = harness.read(folder, "VESTRALUME/1/names.idx")
    check(index.startswith("quillon-names 1 %d\n" % len(CHANNELS)), "no index of names:\n" + index)
    sound, problems = harness.run_checker(args, folder)
    check(sound, "the checker finds:\n" + "\n".join(problems))

    app = harness.Quillon(server, args.quillon, folder, {"PATH": stub_dir + ":" + os.environ["PATH"]})
    try:
        # A page and a tile away from the start.
        app.key("Next", "Next", "Right", "Right")
        wait_until(lambda: harness.read(folder, "VESTRALUME/n/b.txt") == "3", 15, 0.1, "tile 3")
        harness.wait_settled(folder, quiet=1.0)
        left_page = harness.read(folder, "VESTRALUME/n/z1.txt")
        check(left_page.split()[0] == "9", "Page Down twice shows %r" % left_page.split()[:4])
        left_tiles = tile_paths(folder, "")
        favourites = harness.read(folder, "VESTRALUME/n/d.txt")
        wall = settled_screen(app, "the catalogue's page")

        app.key("slash", "p", "e", "r", "v")
        wait_until(lambda: tile_paths(folder, "c")[0] == "VESTRALUME/1/%d.Quillon" % FIRST_CHANNEL,
                   15, 0.1, "\"perv\" to show Первый канал first")
        # Names beginning with it, then a later word, then inside a word.
        check(tile_paths(folder, "c") == found_paths([FIRST_CHANNEL, 8, 2]),
              "\"perv\" shows %r" % tile_paths(folder, "c")[:4])
        check(harness.read(folder, "VESTRALUME/n/b.txt") == "1", "the best match is not selected")
        shot = settled_screen(app, "the matches of \"perv\"")
        app.screenshot(os.path.join(folder, "find-perv.png"))
        check(band_is_shown(shot), "no band with the query above the wall")
        check(not band_is_shown(wall), "the wall had the band before find mode")

        app.key("Return")
        wait_until(lambda: ("mpv\t" + address(FIRST_CHANNEL)) in opened_lines(log), 15, 0.1,
                   "Enter to open Первый канал")
        check(app.alive(), "the program ended")

        # `a` types: "perva" matches nothing, and no favourite is added.
        app.key("a")
        wait_until(lambda: tile_paths(folder, "c") == found_paths([]), 15, 0.1,
                   "\"perva\" to show an empty wall")
        shot = settled_screen(app, "the empty wall of \"perva\"")
        app.screenshot(os.path.join(folder, "find-nothing.png"))
        check(band_is_shown(shot), "the query is not shown over the empty wall")
        scale = float(harness.read(folder, "VESTRALUME/n/u.txt"))
        for tile in (2, 7, 12, 16):
            colour = shot.average(*harness.tile_point(scale, tile))
            check(max(colour) < 30, "tile %d of the empty wall shows %r" % (tile, colour))
        check(harness.read(folder, "VESTRALUME/n/d.txt") == favourites, "`a` added a favourite")
        app.key("BackSpace")
        wait_until(lambda: tile_paths(folder, "c") == found_paths([FIRST_CHANNEL, 8, 2]), 15, 0.1,
                   "Backspace to bring back the matches of \"perv\"")

        # Another script, and a group. Backspace four times empties the query.
        app.key(*["BackSpace"] * 4, *"zhongyang")
        wait_until(lambda: tile_paths(folder, "c") == found_paths([NEWS_CHANNEL]), 15, 0.1,
                   "\"zhongyang\" to find 中央新闻")
        app.key(*["BackSpace"] * 9, *"news")
        news = [3] + [n for n in GROUP_NEWS if n != 3]  # Euronews has it in its name
        wait_until(lambda: tile_paths(folder, "c")[:len(news)] == found_paths(news)[:len(news)],
                   15, 0.1, "\"news\" to find the group News")
        check(tile_paths(folder, "c") == found_paths(news), "\"news\" shows %r" % tile_paths(folder, "c"))

        # Esc: the page and the tile left, as they were on screen.
        app.key("Escape")
        wait_until(lambda: tile_paths(folder, "") == left_tiles and
                   harness.read(folder, "VESTRALUME/n/b.txt") == "3", 15, 0.1,
                   "Esc to bring back the page left")
        check(harness.read(folder, "VESTRALUME/n/z1.txt") == left_page, "the page file changed")
        back = settled_screen(app, "the catalogue's page again")
        check(differing_share(wall, back) < 0.002, "the wall looks different after Esc")
        check(app.alive(), "Esc in find mode ended the program")

        # F3 opens it too; Backspace on the empty query leaves it.
        app.key("F3", "r", "BackSpace")
        wait_until(lambda: tile_paths(folder, "c")[0] == "VESTRALUME/i/1.jpg", 15, 0.1,
                   "the empty query")
        app.key("BackSpace")
        wait_until(lambda: not band_is_shown(app.screenshot()), 15, 0.1, "Backspace to leave")
        check(harness.read(folder, "VESTRALUME/n/z1.txt") == left_page, "the page file changed")
        app.key("Escape")
        check(app.wait_exit() == 0, "Esc on the wall")
    finally:
        app.stop()
    sound, problems = harness.run_checker(args, folder)
    check(sound, "after find mode the checker finds:\n" + "\n".join(problems))


if __name__ == "__main__":
    harness.main(test)
