// Decoding channel logos with libvips: the bytes of a PNG, JPEG, WebP, GIF or
// SVG file in, the logo scaled to fit a box out, as plain RGBA pixels. libvips
// is wrapped so that every failure comes back as a plain reason, never as an
// exit or an exception.
#pragma once

#include <string>
#include <vector>

// A decoded image: rows top first, four bytes per pixel (red, green, blue,
// alpha, alpha not premultiplied).
struct RgbaImage {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> pixels;
};

// Raster logos above this many pixels are refused from their header, before
// anything is decoded: no logo needs them, and a small file can claim any
// size (a decompression bomb).
constexpr long long maxLogoPixels = 40LL * 1000 * 1000;

// How far a small raster logo is enlarged at most to fill its box: further
// only shows its pixels. Drawings (SVG) are rendered at any size.
constexpr double maxLogoEnlargement = 3.0;

struct FitSize {
    int width = 0;
    int height = 0;
};

// The smallest scale a drawing is rendered at: libvips's SVG loader takes no
// smaller one, and below it would draw the picture at its full declared
// size.
constexpr double minDrawingScale = 0.001;

// Why a drawing (SVG) that declares width x height cannot become a logo of
// `fit`, or empty when it can: its declared size is held to the pixel cap
// of raster logos before anything is rendered (librsvg lays out and filters
// at the declared size), and it must not need shrinking below
// minDrawingScale.
std::string drawingSizeProblem(long long width, long long height, FitSize fit);

// The size an image of width x height takes inside a box of boxWidth x
// boxHeight with its aspect kept, enlarged by at most `maxEnlargement`;
// never less than 1 x 1.
FitSize fitInside(int width, int height, int boxWidth, int boxHeight, double maxEnlargement);

// Makes libvips ready for the card maker: started once per process, its own
// threads and operation cache kept small (the card maker draws many small
// images in parallel itself), and its loaders of untrusted formats blocked.
// False when libvips cannot start.
bool startImageLibrary();

// Decodes `bytes` and scales the picture to fit the box (see fitInside).
// Only PNG, JPEG, WebP, GIF (its first frame) and SVG are read; colours come
// out as sRGB whatever the file holds (palette, grey, 16 bits, CMYK). On
// failure returns false with a plain reason in `problem`.
// Decoding stops after `secondsAllowed` (checked between the tiles libvips
// computes), and the logo then fails: one logo cannot hold a drawing thread
// up for long.
constexpr double logoSecondsAllowed = 5;
bool decodeLogo(const std::string& bytes, int boxWidth, int boxHeight, RgbaImage& logo,
                std::string& problem, double secondsAllowed = logoSecondsAllowed);
