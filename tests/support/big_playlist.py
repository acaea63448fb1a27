"""A big playlist with many logos of distinct colours, for the fast import's
test and benchmark: `make_logos` writes COUNT plain-colour PNG logos of
400 x 225 pixels, `write_playlist` a playlist of ENTRIES channels whose
channel n carries logo (n - 1) % COUNT, served from BASE_URL.

    python3 big_playlist.py --logos FOLDER --count 500 --playlist FILE --entries 20000 --base-url URL
"""
import argparse
import colorsys
import os
import struct
import zlib

WIDTH, HEIGHT = 400, 225


def logo_colour(index):
    """An RGB colour of its own for each logo: hues around the circle, in
    three bands of lightness, so that neighbours differ clearly."""
    hue = (index * 0.381966) % 1.0
    value = (1.0, 0.75, 0.55)[index % 3]
    red, green, blue = colorsys.hsv_to_rgb(hue, 0.9, value)
    return int(red * 255), int(green * 255), int(blue * 255)


def png(width, height, colour):
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xffffffff))
    row = b"\0" + bytes(colour) * width
    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(row * height, 9)) + chunk(b"IEND", b""))


def logo_name(index):
    return "logo%03d.png" % index


def make_logos(folder, count):
    os.makedirs(folder, exist_ok=True)
    for index in range(count):
        with open(os.path.join(folder, logo_name(index)), "wb") as f:
            f.write(png(WIDTH, HEIGHT, logo_colour(index)))


def write_playlist(path, entries, base_url, logos, stream_base="https://streams.example/"):
    with open(path, "w", encoding="utf-8") as f:
        f.write("#EXTM3U\n")
        for n in range(1, entries + 1):
            logo = base_url + logo_name((n - 1) % logos)
            f.write('#EXTINF:-1 tvg-id="c%d" tvg-logo="%s" group-title="Group %d",Channel %d\n'
                    % (n, logo, n % 40, n))
            f.write("%s%d/index.m3u8\n" % (stream_base, n))


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--logos", required=True)
    parser.add_argument("--count", type=int, default=500)
    parser.add_argument("--playlist")
    parser.add_argument("--entries", type=int, default=20000)
    parser.add_argument("--base-url", default="http://127.0.0.1:1/")
    args = parser.parse_args()
    make_logos(args.logos, args.count)
    if args.playlist:
        write_playlist(args.playlist, args.entries, args.base_url, args.count)
