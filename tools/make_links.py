#!/usr/bin/env python3
"""Writes the URL directory of the sample data root, data/VESTRALUME/links.tsv.

The directory maps each link number 1 to 1290 to one web address. Three kinds
of entry exist: channel pages on the video-sharing service (most of them),
pages on the product's own site under /p/<name>.html, and live-stream pages
on broadcasters' own sites. All hosts are reserved example hosts; the channel
names and identifiers are invented. The output is deterministic: run it again
and the file does not change.

Usage: tools/make_links.py [output path]
"""

import os
import random
import sys

LINK_COUNT = 1290
VIDEO_HOST = "https://video.example"
PRODUCT_HOST = "https://quillon.example"
# The product web page the program opens on its own; it must not be one of the
# directory's addresses.
PRODUCT_WEB_PAGE = "https://quillon.example/"

PRODUCT_PAGES = {
    3: "radio-solaris",
    5: "canal-horizonte",
    17: "nature-documentaries",
    27: "tv-marisol",
    41: "classic-cinema",
    111: "radio-vento-norte",
    119: "kids-cartoons",
    123: "jazz-after-midnight",
    134: "news-24-brasilia",
    147: "world-football",
    289: "radio-lumiar-fm",
}

BROADCASTER_PAGES = {
    1: "https://www.tvnordlicht.example/live",
    2: "https://aovivo.canalorla.example/",
    55: "https://www.rioazul-tv.example/ao-vivo",
    237: "https://live.kestrel-news.example/stream",
    238: "https://www.portosol.example/tv/live",
    297: "https://player.montanha-tv.example/live/hd",
    300: "https://www.cidadeviva.example/assista",
    1016: "https://stream.baltic-one.example/live",
}

# Link numbers that open the same address, each pair once.
SHARED_PAIRS = [(25, 340), (81, 611), (130, 965), (177, 490), (230, 1099),
                (263, 650), (286, 790), (342, 590), (591, 592), (1030, 1082)]

# Path shapes of the video-sharing entries and how many entries use each.
SHAPE_COUNTS = [
    ("user_videos", 503),      # /user/<name>/videos
    ("channel_videos", 391),   # /channel/<id>/videos
    ("c_videos", 346),         # /c/<name>/videos
    ("channel", 9),            # /channel/<id>
    ("plain_videos", 8),       # /<name>/videos
    ("user", 6),               # /user/<name>
    ("c", 5),                  # /c/<name>
    ("playlist", 2),           # /playlist?list=<id>
    ("watch", 1),              # /watch?v=<id>&list=<id>
]

# Shapes of the shared pairs (both numbers of a pair have the same address,
# so both count towards the same shape).
PAIR_SHAPES = ["user_videos", "channel_videos", "c_videos", "user_videos", "c_videos",
               "channel_videos", "user_videos", "c_videos", "user_videos", "channel_videos"]

FIRST_WORDS = [
    "Aurora", "Basalt", "Cedar", "Copper", "Delta", "Ember", "Falcon", "Granite", "Harbor",
    "Indigo", "Juniper", "Kestrel", "Lumen", "Maple", "Nimbus", "Orchid", "Pioneer", "Quartz",
    "Raven", "Sierra", "Tundra", "Umber", "Velvet", "Willow", "Yonder", "Zephyr", "Amber",
    "Bramble", "Cobalt", "Dune", "Echo", "Fjord", "Glacier", "Hollow", "Iris", "Jasper",
    "Koral", "Lagoon", "Meadow", "Nova", "Onyx", "Prairie", "Ridge", "Saffron", "Timber",
    "Vista", "Wren", "Alder", "Birch", "Canyon",
]
SECOND_WORDS = [
    "Kitchen", "Garage", "Studio", "Travels", "Science", "Music", "Gaming", "News", "Crafts",
    "Garden", "Fitness", "Cinema", "Comedy", "History", "Tech", "Outdoors", "Kids", "Sports",
    "Radio", "Lab", "Workshop", "Academy", "Sessions", "Stories", "Bakery", "Motors",
    "Wildlife", "Podcast", "Theatre", "Astronomy",
]
SUFFIXES = ["", "TV", "Channel", "Live", "HQ", "Official", "Media", "Plus"]

ID_ALPHABET = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"


def make_names(rng, count):
    """`count` distinct channel names in CamelCase, in random order."""
    names = [a + b + s for a in FIRST_WORDS for b in SECOND_WORDS for s in SUFFIXES]
    rng.shuffle(names)
    if len(names) < count:
        raise SystemExit("not enough channel names")
    return names[:count]


def make_id(rng, prefix, length):
    return prefix + "".join(rng.choice(ID_ALPHABET) for _ in range(length))


def video_address(shape, name, rng):
    if shape == "user_videos":
        return "%s/user/%s/videos" % (VIDEO_HOST, name.lower())
    if shape == "channel_videos":
        return "%s/channel/%s/videos" % (VIDEO_HOST, make_id(rng, "UC", 22))
    if shape == "c_videos":
        return "%s/c/%s/videos" % (VIDEO_HOST, name)
    if shape == "channel":
        return "%s/channel/%s" % (VIDEO_HOST, make_id(rng, "UC", 22))
    if shape == "plain_videos":
        return "%s/%s/videos" % (VIDEO_HOST, name)
    if shape == "user":
        return "%s/user/%s" % (VIDEO_HOST, name.lower())
    if shape == "c":
        return "%s/c/%s" % (VIDEO_HOST, name)
    if shape == "playlist":
        return "%s/playlist?list=%s" % (VIDEO_HOST, make_id(rng, "PL", 32))
    if shape == "watch":
        return "%s/watch?v=%s&list=%s" % (VIDEO_HOST, make_id(rng, "", 11),
                                           make_id(rng, "PL", 32))
    raise ValueError(shape)


def build_table():
    rng = random.Random(1290)
    table = {}
    for number, name in PRODUCT_PAGES.items():
        table[number] = "%s/p/%s.html" % (PRODUCT_HOST, name)
    table.update(BROADCASTER_PAGES)

    video_numbers = [n for n in range(1, LINK_COUNT + 1) if n not in table]
    second_of_pair = {b: a for a, b in SHARED_PAIRS}
    # Each shape's remaining entries after the pairs, which take two each.
    remaining = dict(SHAPE_COUNTS)
    for shape in PAIR_SHAPES:
        remaining[shape] -= 2
    owners = [n for n in video_numbers if n not in second_of_pair]
    pair_firsts = [a for a, _ in SHARED_PAIRS]
    singles = [n for n in owners if n not in pair_firsts]
    shapes = [shape for shape, _ in SHAPE_COUNTS for _ in range(remaining[shape])]
    if len(shapes) != len(singles):
        raise SystemExit("shape counts do not add up: %d shapes, %d entries"
                         % (len(shapes), len(singles)))
    rng.shuffle(shapes)
    shape_of = dict(zip(singles, shapes))
    shape_of.update(zip(pair_firsts, PAIR_SHAPES))

    names = iter(make_names(rng, len(owners)))
    used = set(table.values())
    for number in owners:
        while True:
            address = video_address(shape_of[number], next(names), rng)
            if address not in used:
                break
        used.add(address)
        table[number] = address
    for first, second in SHARED_PAIRS:
        table[second] = table[first]
    return table


def check_table(table):
    if sorted(table) != list(range(1, LINK_COUNT + 1)):
        raise SystemExit("link numbers are not 1 to %d" % LINK_COUNT)
    for number, address in table.items():
        if not address.startswith("https://") or len(address) > 100:
            raise SystemExit("bad address for %d: %s" % (number, address))
        if address == PRODUCT_WEB_PAGE:
            raise SystemExit("the product web page must not be in the directory")
    if len(set(table.values())) != LINK_COUNT - len(SHARED_PAIRS):
        raise SystemExit("addresses are not distinct apart from the shared pairs")


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    default = os.path.join(here, "..", "data", "VESTRALUME", "links.tsv")
    output = sys.argv[1] if len(sys.argv) > 1 else default
    table = build_table()
    check_table(table)
    lines = [
        "# Quillon URL directory: link number, a TAB, the web address.",
        "# Written by tools/make_links.py; lines starting with # and blank lines are skipped.",
        "",
    ]
    lines += ["%d\t%s" % (number, table[number]) for number in range(1, LINK_COUNT + 1)]
    with open(output, "w", encoding="ascii", newline="\n") as out:
        out.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
