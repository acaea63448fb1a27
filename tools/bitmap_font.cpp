#include "tools/bitmap_font.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

struct Glyph {
    char character;
    const char* rows[glyphHeight];
};

// Each row is five columns, '#' for a set pixel.
const Glyph glyphs[] = {
    {'0', {".###.", "#...#", "#..##", "#.#.#", "##..#", "#...#", ".###."}},
    {'1', {"..#..", ".##..", "..#..", "..#..", "..#..", "..#..", ".###."}},
    {'2', {".###.", "#...#", "....#", "...#.", "..#..", ".#...", "#####"}},
    {'3', {"#####", "...#.", "..#..", "...#.", "....#", "#...#", ".###."}},
    {'4', {"...#.", "..##.", ".#.#.", "#..#.", "#####", "...#.", "...#."}},
    {'5', {"#####", "#....", "####.", "....#", "....#", "#...#", ".###."}},
    {'6', {"..##.", ".#...", "#....", "####.", "#...#", "#...#", ".###."}},
    {'7', {"#####", "....#", "...#.", "..#..", ".#...", ".#...", ".#..."}},
    {'8', {".###.", "#...#", "#...#", ".###.", "#...#", "#...#", ".###."}},
    {'9', {".###.", "#...#", "#...#", ".####", "....#", "...#.", ".##.."}},
    {'A', {".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"}},
    {'B', {"####.", "#...#", "#...#", "####.", "#...#", "#...#", "####."}},
    {'C', {".###.", "#...#", "#....", "#....", "#....", "#...#", ".###."}},
    {'D', {"###..", "#..#.", "#...#", "#...#", "#...#", "#..#.", "###.."}},
    {'E', {"#####", "#....", "#....", "####.", "#....", "#....", "#####"}},
    {'F', {"#####", "#....", "#....", "####.", "#....", "#....", "#...."}},
    {'G', {".###.", "#...#", "#....", "#.###", "#...#", "#...#", ".####"}},
    {'H', {"#...#", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"}},
    {'I', {".###.", "..#..", "..#..", "..#..", "..#..", "..#..", ".###."}},
    {'J', {"..###", "...#.", "...#.", "...#.", "...#.", "#..#.", ".##.."}},
    {'K', {"#...#", "#..#.", "#.#..", "##...", "#.#..", "#..#.", "#...#"}},
    {'L', {"#....", "#....", "#....", "#....", "#....", "#....", "#####"}},
    {'M', {"#...#", "##.##", "#.#.#", "#.#.#", "#...#", "#...#", "#...#"}},
    {'N', {"#...#", "#...#", "##..#", "#.#.#", "#..##", "#...#", "#...#"}},
    {'O', {".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."}},
    {'P', {"####.", "#...#", "#...#", "####.", "#....", "#....", "#...."}},
    {'Q', {".###.", "#...#", "#...#", "#...#", "#.#.#", "#..#.", ".##.#"}},
    {'R', {"####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"}},
    {'S', {".####", "#....", "#....", ".###.", "....#", "....#", "####."}},
    {'T', {"#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."}},
    {'U', {"#...#", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."}},
    {'V', {"#...#", "#...#", "#...#", "#...#", "#...#", ".#.#.", "..#.."}},
    {'W', {"#...#", "#...#", "#...#", "#.#.#", "#.#.#", "#.#.#", ".#.#."}},
    {'X', {"#...#", "#...#", ".#.#.", "..#..", ".#.#.", "#...#", "#...#"}},
    {'Y', {"#...#", "#...#", ".#.#.", "..#..", "..#..", "..#..", "..#.."}},
    {'Z', {"#####", "....#", "...#.", "..#..", ".#...", "#....", "#####"}},
    {' ', {".....", ".....", ".....", ".....", ".....", ".....", "....."}},
    {'-', {".....", ".....", ".....", "#####", ".....", ".....", "....."}},
    {'_', {".....", ".....", ".....", ".....", ".....", ".....", "#####"}},
    {'.', {".....", ".....", ".....", ".....", ".....", ".##..", ".##.."}},
    {'/', {".....", "....#", "...#.", "..#..", ".#...", "#....", "....."}},
    {':', {".....", ".##..", ".##..", ".....", ".##..", ".##..", "....."}},
    {'!', {"..#..", "..#..", "..#..", "..#..", "..#..", ".....", "..#.."}},
    {'?', {".###.", "#...#", "....#", "...#.", "..#..", ".....", "..#.."}},
    {'&', {".##..", "#..#.", "#.#..", ".#...", "#.#.#", "#..#.", ".##.#"}},
    {'+', {".....", "..#..", "..#..", "#####", "..#..", "..#..", "....."}},
    {'\'', {"..#..", "..#..", ".#...", ".....", ".....", ".....", "....."}},
};

const Glyph& findGlyph(char c) {
    const char wanted = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const Glyph* unknown = nullptr;
    for (const Glyph& glyph : glyphs) {
        if (glyph.character == wanted) return glyph;
        if (glyph.character == '?') unknown = &glyph;
    }
    return *unknown;
}

}  // namespace

void resizeCanvas(Canvas& canvas, int width, int height) {
    canvas.width = width;
    canvas.height = height;
    canvas.pixels.resize(static_cast<size_t>(width) * height * 3);
}

void putPixel(Canvas& canvas, int x, int y, Rgb colour) {
    if (x < 0 || y < 0 || x >= canvas.width || y >= canvas.height) return;
    unsigned char* p = &canvas.pixels[(static_cast<size_t>(y) * canvas.width + x) * 3];
    p[0] = colour.red;
    p[1] = colour.green;
    p[2] = colour.blue;
}

void fillRect(Canvas& canvas, int x, int y, int width, int height, Rgb colour) {
    const int left = std::max(x, 0);
    const int top = std::max(y, 0);
    const int right = std::min(x + width, canvas.width);
    const int bottom = std::min(y + height, canvas.height);
    if (left >= right || top >= bottom) return;
    // Paint the first row, then copy it to the others.
    const size_t stride = static_cast<size_t>(canvas.width) * 3;
    const size_t span = static_cast<size_t>(right - left) * 3;
    unsigned char* first = &canvas.pixels[top * stride + static_cast<size_t>(left) * 3];
    for (size_t i = 0; i < span; i += 3) {
        first[i] = colour.red;
        first[i + 1] = colour.green;
        first[i + 2] = colour.blue;
    }
    for (int row = top + 1; row < bottom; ++row)
        std::memcpy(first + (row - top) * stride, first, span);
}

void drawBorder(Canvas& canvas, int thickness, Rgb colour) {
    fillRect(canvas, 0, 0, canvas.width, thickness, colour);
    fillRect(canvas, 0, canvas.height - thickness, canvas.width, thickness, colour);
    fillRect(canvas, 0, 0, thickness, canvas.height, colour);
    fillRect(canvas, canvas.width - thickness, 0, thickness, canvas.height, colour);
}

int textWidth(const std::string& text, int scale) {
    if (text.empty()) return 0;
    return static_cast<int>(text.size()) * (glyphWidth + 1) * scale - scale;
}

namespace {

// Calls paint(left, top, size) for every set cell of the text's glyphs.
template <typename Paint>
void forEachCell(int x, int y, const std::string& text, int scale, Paint paint) {
    for (size_t i = 0; i < text.size(); ++i) {
        const Glyph& glyph = findGlyph(text[i]);
        const int left = x + static_cast<int>(i) * (glyphWidth + 1) * scale;
        for (int row = 0; row < glyphHeight; ++row)
            for (int column = 0; column < glyphWidth; ++column)
                if (glyph.rows[row][column] == '#') paint(left + column * scale, y + row * scale);
    }
}

}  // namespace

void drawText(Canvas& canvas, int x, int y, const std::string& text, int scale, Rgb colour) {
    forEachCell(x, y, text, scale,
                [&](int left, int top) { fillRect(canvas, left, top, scale, scale, colour); });
}

void drawTextCentred(Canvas& canvas, int centreX, int y, const std::string& text, int scale,
                     Rgb colour, Rgb outlineColour, int outline) {
    const int x = centreX - textWidth(text, scale) / 2;
    // The outline first: every stroke cell grown by `outline` on each side.
    forEachCell(x, y, text, scale, [&](int left, int top) {
        fillRect(canvas, left - outline, top - outline, scale + 2 * outline, scale + 2 * outline,
                 outlineColour);
    });
    drawText(canvas, x, y, text, scale, colour);
}

std::vector<std::string> wrapText(const std::string& text, int maxChars, int maxLines) {
    std::vector<std::string> lines;
    std::string line;
    size_t start = 0;
    while (start < text.size() && static_cast<int>(lines.size()) < maxLines) {
        size_t end = text.find(' ', start);
        if (end == std::string::npos) end = text.size();
        std::string word = text.substr(start, end - start);
        start = end + 1;
        if (word.empty()) continue;
        if (word.size() > static_cast<size_t>(maxChars)) word.resize(maxChars);
        if (line.empty()) {
            line = word;
        } else if (line.size() + 1 + word.size() <= static_cast<size_t>(maxChars)) {
            line += " " + word;
        } else {
            lines.push_back(line);
            line = word;
        }
    }
    if (!line.empty() && static_cast<int>(lines.size()) < maxLines) lines.push_back(line);
    return lines;
}
