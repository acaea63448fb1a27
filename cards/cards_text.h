// Setting the names and numbers of cards in real type: Pango shapes the text
// (every script, right to left where the script runs so, wrapping at word
// boundaries, an ellipsis where the text does not fit) and its FreeType back
// end draws it as a coverage mask the card is painted with.
#pragma once

#include <string>
#include <vector>

// The fonts cards are set in, first to last: Pango takes each character from
// the first family that has it (fonts-noto-core, fonts-noto-cjk), and then
// from whatever else fontconfig offers.
extern const char* const cardFontFamilies;

struct TextStyle {
    int pixelSize = 16;
    bool bold = true;
    int width = 0;     // wrapping width in pixels; 0: one line of any length
    int maxLines = 1;  // lines before the text ends in an ellipsis (with a width)
};

// Set text: a coverage mask (0 transparent to 255 full ink) and where it lies
// relative to the layout's origin, with the layout's logical box (the line
// boxes, independent of which letters have ascenders or descenders) so that
// texts placed by it share their baselines.
struct TextBlock {
    int width = 0, height = 0;            // of the mask
    std::vector<unsigned char> coverage;  // width * height, rows top first
    int left = 0, top = 0;                // the mask's corner, layout coordinates
    int boxLeft = 0, boxTop = 0;          // the logical box, layout coordinates
    int boxWidth = 0, boxHeight = 0;
    int lines = 0;
    bool ellipsized = false;  // the end of the text was left out
};

// Makes `text` fit to be shown: invalid UTF-8 repaired, control characters
// and bidirectional controls (embeddings, overrides, isolates, marks)
// dropped, runs of white space turned into one space, ends trimmed.
std::string cleanText(const std::string& text);

// Sets `text` (cleaned first). Characters no installed font can show are
// left out rather than drawn as boxes.
TextBlock setText(const std::string& text, const TextStyle& style);

// How many characters of `text` (cleaned first) no installed font can show.
int countMissingGlyphs(const std::string& text);
