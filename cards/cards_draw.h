// Drawing one card: the background, the logo fitted into its box, the name
// and the number, as RGB pixels ready for the JPEG encoder. The rules (which
// colours, which plate behind a logo, which type size) are plain functions.
#pragma once

#include <string>
#include <vector>

#include "cards/cards.h"
#include "cards/logo_image.h"

struct CardColour {
    unsigned char red = 0, green = 0, blue = 0;
};

// An RGB picture, rows top first, three bytes per pixel.
struct CardCanvas {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> pixels;
};

// Where the logo goes on a card: the space above the name line.
constexpr int logoBoxLeft = 12, logoBoxTop = 9, logoBoxWidth = 232, logoBoxHeight = 80;

// Where the logo goes on a card that shows programme lines: the top left
// corner, beside the channel's name.
constexpr int programmeLogoBoxLeft = 10, programmeLogoBoxTop = 7, programmeLogoBoxWidth = 80,
              programmeLogoBoxHeight = 32;

// A colour of the channel's own for its name card: the golden-ratio walk
// over the hue circle keeps neighbouring numbers far apart; dark enough for
// white type.
CardColour channelColour(int number);

// The colour of a 0xRRGGBB value.
CardColour colourOf(int rgb);

// Relative luminance from 0 (black) to 1 (white).
double luminance(CardColour colour);

// The mean luminance of what a logo shows, its pixels weighted by their
// opacity; negative when the logo is fully transparent.
double visibleLuminance(const RgbaImage& logo);

// Whether a logo is set on a light plate or a dark one. A logo with
// transparency is a drawing: a dark one goes on the light plate, a light one
// on the dark plate. An opaque logo brings its own ground: the plate of its
// edge's shade, so that the two meet without a seam.
bool wantsLightPlate(const RgbaImage& logo);

// Paints `image` onto the canvas with its top left corner at (x, y), mixing
// by its alpha; what falls outside the canvas is cut off.
void paintImage(CardCanvas& canvas, const RgbaImage& image, int x, int y);

// Paints `colour` through a coverage mask (0 to 255) of maskWidth x
// maskHeight with its corner at (x, y), at `opacity` (0 to 1).
void paintCoverage(CardCanvas& canvas, const std::vector<unsigned char>& mask, int maskWidth,
                   int maskHeight, int x, int y, CardColour colour, double opacity);

// Draws the card of `request`, with its logo when one is given (already scaled
// to fit the logo box, the programme logo box when the card shows programme
// lines) and a name card otherwise.
CardCanvas drawCard(const CardRequest& request, const RgbaImage* logo);
