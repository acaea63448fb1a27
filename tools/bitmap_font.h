// A small RGB drawing surface and a 5 x 7 pixel bitmap font, enough to paint
// legible numbers and labels into the sample data root's images.
#pragma once

#include <string>
#include <vector>

struct Rgb {
    unsigned char red = 0;
    unsigned char green = 0;
    unsigned char blue = 0;
};

// `pixels` holds height rows of width * 3 bytes, top row first (the layout
// writeJpeg takes).
struct Canvas {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> pixels;
};

// Glyph cell size at scale 1; glyphs are drawn `scale` times larger, one
// blank column between characters.
constexpr int glyphWidth = 5;
constexpr int glyphHeight = 7;

// Makes the canvas width x height, keeping its storage when it is already
// large enough, so one canvas serves many images.
void resizeCanvas(Canvas& canvas, int width, int height);

// Sets one pixel; pixels outside the canvas are ignored.
void putPixel(Canvas& canvas, int x, int y, Rgb colour);

// Fills a rectangle, clipped to the canvas.
void fillRect(Canvas& canvas, int x, int y, int width, int height, Rgb colour);

// Draws a frame of `thickness` pixels along the canvas edges.
void drawBorder(Canvas& canvas, int thickness, Rgb colour);

// Width in pixels of `text` drawn at `scale` (no trailing blank column).
int textWidth(const std::string& text, int scale);

// Draws `text` with its top left corner at (x, y). Lower-case letters are
// drawn as capitals; characters the font lacks are drawn as '?'.
void drawText(Canvas& canvas, int x, int y, const std::string& text, int scale, Rgb colour);

// Draws `text` centred on column centreX, with a dark outline of `outline`
// pixels around every stroke so it reads on any background.
void drawTextCentred(Canvas& canvas, int centreX, int y, const std::string& text, int scale,
                     Rgb colour, Rgb outlineColour, int outline);

// Splits `text` at spaces into at most `maxLines` lines of at most
// `maxChars` characters; words longer than a line are cut.
std::vector<std::string> wrapText(const std::string& text, int maxChars, int maxLines);
