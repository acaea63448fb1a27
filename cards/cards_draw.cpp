#include "cards/cards_draw.h"

#include <algorithm>
#include <cmath>

#include "cards/cards_text.h"

namespace {

constexpr int margin = 12;
// The line at the bottom of every card: the number at the left, and on a
// logo card the name beside it.
constexpr int bottomLineCentre = 108;
constexpr int numberSize = 16;
constexpr int bottomNameSize = 15;
// The name of a name card fills the space above the bottom line.
constexpr int nameBoxTop = 8, nameBoxHeight = 84;
// Type sizes tried for a name card, largest first, and how many lines each
// may take; the last one ends in an ellipsis when the name is longer still.
struct NameSize {
    int pixels;
    int lines;
};
constexpr NameSize nameSizes[] = {{28, 2}, {23, 2}, {19, 3}, {16, 4}};

const CardColour white{255, 255, 255};
const CardColour black{0, 0, 0};
const CardColour ink{24, 26, 32};
const CardColour lightPlateTop{244, 245, 248}, lightPlateBottom{218, 222, 230};
const CardColour darkPlateTop{52, 56, 66}, darkPlateBottom{26, 28, 34};

unsigned char toByte(double value) {
    return static_cast<unsigned char>(std::clamp(std::lround(value), 0L, 255L));
}

CardColour scaled(CardColour colour, double factor) {
    return {toByte(colour.red * factor), toByte(colour.green * factor),
            toByte(colour.blue * factor)};
}

CardColour mixed(CardColour a, CardColour b, double t) {
    return {toByte(a.red + (b.red - a.red) * t), toByte(a.green + (b.green - a.green) * t),
            toByte(a.blue + (b.blue - a.blue) * t)};
}

CardColour fromHsv(double hue, double saturation, double value) {
    const double h = (hue - std::floor(hue)) * 6;
    const int sector = static_cast<int>(h) % 6;
    const double f = h - std::floor(h);
    const double p = value * (1 - saturation), q = value * (1 - saturation * f),
                 t = value * (1 - saturation * (1 - f));
    double r = value, g = t, b = p;
    switch (sector) {
        case 1:
            r = q, g = value, b = p;
            break;
        case 2:
            r = p, g = value, b = t;
            break;
        case 3:
            r = p, g = q, b = value;
            break;
        case 4:
            r = t, g = p, b = value;
            break;
        case 5:
            r = value, g = p, b = q;
            break;
        default:
            break;
    }
    return {toByte(r * 255), toByte(g * 255), toByte(b * 255)};
}

CardCanvas blankCanvas() {
    CardCanvas canvas;
    canvas.width = cardWidth;
    canvas.height = cardHeight;
    canvas.pixels.resize(static_cast<size_t>(cardWidth) * cardHeight * 3);
    return canvas;
}

void fillGradient(CardCanvas& canvas, CardColour top, CardColour bottom) {
    for (int y = 0; y < canvas.height; ++y) {
        const CardColour colour = mixed(top, bottom, static_cast<double>(y) / (canvas.height - 1));
        unsigned char* row = &canvas.pixels[static_cast<size_t>(y) * canvas.width * 3];
        for (int x = 0; x < canvas.width; ++x) {
            row[3 * x] = colour.red;
            row[3 * x + 1] = colour.green;
            row[3 * x + 2] = colour.blue;
        }
    }
}

// A thin frame, so that neighbouring cards of similar colour stay apart.
void drawFrame(CardCanvas& canvas, CardColour colour) {
    constexpr int thickness = 2;
    for (int y = 0; y < canvas.height; ++y)
        for (int x = 0; x < canvas.width; ++x) {
            if (x >= thickness && x < canvas.width - thickness && y >= thickness &&
                y < canvas.height - thickness)
                continue;
            unsigned char* pixel = &canvas.pixels[(static_cast<size_t>(y) * canvas.width + x) * 3];
            pixel[0] = colour.red;
            pixel[1] = colour.green;
            pixel[2] = colour.blue;
        }
}

void paintText(CardCanvas& canvas, const TextBlock& text, int x, int y, CardColour colour,
               double opacity) {
    paintCoverage(canvas, text.coverage, text.width, text.height, x + text.left, y + text.top,
                  colour, opacity);
}

// `text` placed with its layout origin at (x, y), with the ink outside the
// card area left..right x top..bottom taken away: heaps of combining marks or
// very tall clusters reach far beyond their line, and nothing of a name may
// leave its part of the card.
TextBlock clippedTo(TextBlock text, int x, int y, int left, int top, int right, int bottom) {
    for (int row = 0; row < text.height; ++row) {
        const int cardY = y + text.top + row;
        for (int column = 0; column < text.width; ++column) {
            const int cardX = x + text.left + column;
            if (cardX < left || cardX >= right || cardY < top || cardY >= bottom)
                text.coverage[static_cast<size_t>(row) * text.width + column] = 0;
        }
    }
    return text;
}

// Paints text with its layout origin at (x, y), over a soft shadow when the
// type is light (light type on the colours of name cards).
void paintTextWithShadow(CardCanvas& canvas, const TextBlock& text, int x, int y, CardColour colour,
                         double opacity) {
    if (luminance(colour) > 0.5) paintText(canvas, text, x + 1, y + 1, black, 0.45 * opacity);
    paintText(canvas, text, x, y, colour, opacity);
}

// The number at the left of the bottom line; returns how wide it is.
int paintNumber(CardCanvas& canvas, int number, CardColour colour) {
    const TextBlock text = setText(std::to_string(number), TextStyle{numberSize, true, 0, 1});
    const int y = bottomLineCentre - text.boxTop - text.boxHeight / 2;
    paintTextWithShadow(canvas, text, margin - text.boxLeft, y, colour, 0.9);
    return text.boxWidth;
}

// The name centred on one line beside the number (kept clear of it on both
// sides, so that the name stays centred on the card).
void paintBottomName(CardCanvas& canvas, const std::string& name, int numberWidth,
                     CardColour colour) {
    const int inset = margin + numberWidth + 10;
    const int width = cardWidth - 2 * inset;
    if (width < 24) return;
    const TextBlock text = setText(name, TextStyle{bottomNameSize, true, width, 1});
    const int y = bottomLineCentre - text.boxTop - text.boxHeight / 2;
    paintText(canvas, clippedTo(text, inset, y, inset, bottomLineCentre - bottomNameSize, cardWidth - inset, cardHeight - 2),
              inset, y, colour, 1.0);
}

// The name large in the space above the bottom line: the largest size at
// which it fits whole, or the smallest, ending in an ellipsis.
void paintLargeName(CardCanvas& canvas, const std::string& name, CardColour colour) {
    const int width = cardWidth - 2 * margin;
    TextBlock text;
    for (const NameSize& size : nameSizes) {
        text = setText(name, TextStyle{size.pixels, true, width, size.lines});
        if (!text.ellipsized && text.boxHeight <= nameBoxHeight) break;
    }
    const int y = nameBoxTop + (nameBoxHeight - text.boxHeight) / 2 - text.boxTop;
    paintTextWithShadow(canvas, clippedTo(text, margin, y, margin / 2, 3, cardWidth - margin / 2, nameBoxTop + nameBoxHeight + 4),
                        margin, y, colour, 1.0);
}

// The programme lines of a card: the channel (logo and name, number at the
// right) in a band at the top, the title on now large, its times beside a
// thin bar of how far it has run, the next title below.
constexpr int programmeTitleSize = 19, programmeTimeSize = 13, programmeNextSize = 15;
constexpr int programmeNameSize = 15, programmeNumberSize = 13;

void paintProgrammeCard(CardCanvas& canvas, const CardRequest& request, const RgbaImage* logo,
                        CardColour type, CardColour quiet, CardColour accent) {
    const CardProgramme& programme = request.programme;
    const int right = cardWidth - 10;
    // The top band.
    const TextBlock number =
        setText(std::to_string(request.number), TextStyle{programmeNumberSize, true, 0, 1});
    const int bandCentre = programmeLogoBoxTop + programmeLogoBoxHeight / 2;
    paintText(canvas, number, right - number.boxWidth - number.boxLeft,
              bandCentre - number.boxTop - number.boxHeight / 2, quiet, 1.0);
    int nameLeft = 10;
    if (logo) {
        paintImage(canvas, *logo, programmeLogoBoxLeft,
                   programmeLogoBoxTop + (programmeLogoBoxHeight - logo->height) / 2);
        nameLeft = programmeLogoBoxLeft + logo->width + 8;
    }
    const int nameWidth = right - number.boxWidth - 8 - nameLeft;
    if (nameWidth >= 24) {
        const TextBlock name = setText(request.name, TextStyle{programmeNameSize, true, nameWidth, 1});
        paintText(canvas, name, nameLeft, bandCentre - name.boxTop - name.boxHeight / 2, type, 1.0);
    }
    // The programme on now.
    const int width = right - 10;
    int y = 54;
    if (!programme.title.empty()) {
        const TextBlock title = setText(programme.title, TextStyle{programmeTitleSize, true, width, 1});
        paintText(canvas, title, 10, y - title.boxTop - title.boxHeight / 2, type, 1.0);
    }
    y = 79;
    if (!programme.times.empty()) {
        const TextBlock times = setText(programme.times, TextStyle{programmeTimeSize, false, 0, 1});
        paintText(canvas, times, 10 - times.boxLeft, y - times.boxTop - times.boxHeight / 2, quiet, 1.0);
        const int barLeft = 10 + times.boxWidth + 8, barWidth = right - barLeft;
        if (barWidth > 16) {
            const int barTop = y - 2, barHeight = 4;
            const int filled = static_cast<int>(std::lround(std::clamp(programme.progress, 0.0, 1.0) * barWidth));
            for (int row = barTop; row < barTop + barHeight; ++row)
                for (int column = barLeft; column < barLeft + barWidth; ++column) {
                    unsigned char* pixel =
                        &canvas.pixels[(static_cast<size_t>(row) * canvas.width + column) * 3];
                    const CardColour colour = column < barLeft + filled
                                                  ? accent
                                                  : mixed(CardColour{pixel[0], pixel[1], pixel[2]}, quiet, 0.35);
                    pixel[0] = colour.red;
                    pixel[1] = colour.green;
                    pixel[2] = colour.blue;
                }
        }
    }
    // The next one.
    if (!programme.nextTitle.empty()) {
        y = 104;
        int left = 10;
        if (!programme.nextTime.empty()) {
            const TextBlock when = setText(programme.nextTime, TextStyle{programmeTimeSize, true, 0, 1});
            paintText(canvas, when, left - when.boxLeft, y - when.boxTop - when.boxHeight / 2, quiet, 1.0);
            left += when.boxWidth + 7;
        }
        const TextBlock next =
            setText(programme.nextTitle, TextStyle{programmeNextSize, false, right - left, 1});
        paintText(canvas, next, left, y - next.boxTop - next.boxHeight / 2, type, 0.92);
    }
}

}  // namespace

CardColour channelColour(int number) {
    const double hue = number * 0.6180339887498949;
    const double saturation = 0.55 + 0.2 * (((number / 7) % 2 + 2) % 2);
    const double value = 0.5 + 0.08 * (((number % 3) + 3) % 3);
    return fromHsv(hue, saturation, value);
}

CardColour colourOf(int rgb) {
    return {static_cast<unsigned char>((rgb >> 16) & 0xff),
            static_cast<unsigned char>((rgb >> 8) & 0xff), static_cast<unsigned char>(rgb & 0xff)};
}

double luminance(CardColour colour) {
    return (0.2126 * colour.red + 0.7152 * colour.green + 0.0722 * colour.blue) / 255.0;
}

double visibleLuminance(const RgbaImage& logo) {
    double weighted = 0, weight = 0;
    for (size_t i = 0; i + 3 < logo.pixels.size(); i += 4) {
        const double alpha = logo.pixels[i + 3] / 255.0;
        weighted += alpha * luminance({logo.pixels[i], logo.pixels[i + 1], logo.pixels[i + 2]});
        weight += alpha;
    }
    return weight > 0 ? weighted / weight : -1;
}

bool wantsLightPlate(const RgbaImage& logo) {
    const size_t count = logo.pixels.size() / 4;
    bool opaque = count > 0;
    for (size_t i = 0; i < count && opaque; ++i) opaque = logo.pixels[4 * i + 3] >= 250;
    if (!opaque) {
        // Most drawings are made for white pages; only a mostly light one
        // (white lettering) needs the dark plate. A fully transparent logo
        // (negative) shows nothing either way.
        return visibleLuminance(logo) < 0.62;
    }
    double edge = 0;
    int pixels = 0;
    for (int y = 0; y < logo.height; ++y)
        for (int x = 0; x < logo.width; ++x) {
            if (y != 0 && y != logo.height - 1 && x != 0 && x != logo.width - 1) continue;
            const unsigned char* p = &logo.pixels[(static_cast<size_t>(y) * logo.width + x) * 4];
            edge += luminance({p[0], p[1], p[2]});
            ++pixels;
        }
    return edge / pixels >= 0.5;
}

void paintImage(CardCanvas& canvas, const RgbaImage& image, int x, int y) {
    for (int row = std::max(0, -y); row < image.height && y + row < canvas.height; ++row)
        for (int column = std::max(0, -x); column < image.width && x + column < canvas.width;
             ++column) {
            const unsigned char* source =
                &image.pixels[(static_cast<size_t>(row) * image.width + column) * 4];
            unsigned char* target =
                &canvas.pixels[(static_cast<size_t>(y + row) * canvas.width + x + column) * 3];
            const int alpha = source[3];
            for (int c = 0; c < 3; ++c)
                target[c] = static_cast<unsigned char>(
                    (source[c] * alpha + target[c] * (255 - alpha) + 127) / 255);
        }
}

void paintCoverage(CardCanvas& canvas, const std::vector<unsigned char>& mask, int maskWidth,
                   int maskHeight, int x, int y, CardColour colour, double opacity) {
    const int strength = static_cast<int>(std::lround(std::clamp(opacity, 0.0, 1.0) * 255));
    const int channels[3] = {colour.red, colour.green, colour.blue};
    for (int row = std::max(0, -y); row < maskHeight && y + row < canvas.height; ++row)
        for (int column = std::max(0, -x); column < maskWidth && x + column < canvas.width;
             ++column) {
            const int cover = mask[static_cast<size_t>(row) * maskWidth + column] * strength;
            if (cover == 0) continue;
            unsigned char* target =
                &canvas.pixels[(static_cast<size_t>(y + row) * canvas.width + x + column) * 3];
            for (int c = 0; c < 3; ++c)
                target[c] = static_cast<unsigned char>(
                    (channels[c] * cover + target[c] * (255 * 255 - cover) + 32512) / 65025);
        }
}

namespace {

// The name a card shows: the channel's name, or its number when the name
// draws nothing at all (only characters no font has, or only controls).
std::string shownName(const std::string& name, int number) {
    const TextBlock text = setText(name, TextStyle{bottomNameSize, true, cardWidth, 1});
    return text.width > 0 && text.height > 0 ? name : std::to_string(number);
}

}  // namespace

CardCanvas drawCard(const CardRequest& request, const RgbaImage* logo) {
    CardCanvas canvas = blankCanvas();
    if (request.programme.shown) {
        const bool hasLogo = logo && !logo->pixels.empty();
        if (hasLogo) {
            const bool light = wantsLightPlate(*logo);
            fillGradient(canvas, light ? lightPlateTop : darkPlateTop,
                         light ? lightPlateBottom : darkPlateBottom);
            drawFrame(canvas, light ? CardColour{190, 194, 204} : CardColour{16, 17, 21});
            paintProgrammeCard(canvas, request, logo, light ? ink : white,
                               light ? CardColour{80, 86, 100} : CardColour{176, 182, 198},
                               light ? CardColour{214, 60, 44} : CardColour{255, 196, 64});
            return canvas;
        }
        // Darker than a name card's colour, so that small type reads well.
        const CardColour base = scaled(request.background >= 0 ? colourOf(request.background)
                                                               : channelColour(request.number),
                                       0.7);
        fillGradient(canvas, scaled(base, 1.1), scaled(base, 0.75));
        drawFrame(canvas, scaled(base, 0.55));
        paintProgrammeCard(canvas, request, nullptr, white, CardColour{214, 218, 228},
                           CardColour{255, 214, 90});
        return canvas;
    }
    if (logo && !logo->pixels.empty()) {
        const bool light = wantsLightPlate(*logo);
        fillGradient(canvas, light ? lightPlateTop : darkPlateTop,
                     light ? lightPlateBottom : darkPlateBottom);
        drawFrame(canvas, light ? CardColour{190, 194, 204} : CardColour{16, 17, 21});
        paintImage(canvas, *logo, logoBoxLeft + (logoBoxWidth - logo->width) / 2,
                   logoBoxTop + (logoBoxHeight - logo->height) / 2);
        const CardColour type = light ? ink : white;
        const int numberWidth = paintNumber(
            canvas, request.number, light ? CardColour{90, 96, 110} : CardColour{190, 196, 210});
        paintBottomName(canvas, shownName(request.name, request.number), numberWidth, type);
        return canvas;
    }
    const CardColour base =
        request.background >= 0 ? colourOf(request.background) : channelColour(request.number);
    fillGradient(canvas, scaled(base, 1.15), scaled(base, 0.8));
    drawFrame(canvas, scaled(base, 0.55));
    const CardColour type = luminance(base) > 0.62 ? ink : white;
    paintLargeName(canvas, shownName(request.name, request.number), type);
    paintNumber(canvas, request.number, type);
    return canvas;
}
