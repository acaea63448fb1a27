#include "live/live_picture.h"

#include <algorithm>
#include <ctime>

#include "cards/cards_text.h"
#include "cards/logo_image.h"
#include "cards/jpeg_writer.h"

const char* const livePictureMark = "Quillon live picture";

namespace {

constexpr int pictureQuality = 85;
constexpr int stripHeight = 24;

void darken(CardCanvas& canvas, int top, int bottom, double keep) {
    top = std::max(0, top);
    bottom = std::min(canvas.height, bottom);
    for (int y = top; y < bottom; ++y)
        for (int x = 0; x < canvas.width * 3; ++x) {
            unsigned char& value = canvas.pixels[static_cast<size_t>(y) * canvas.width * 3 + x];
            value = static_cast<unsigned char>(value * keep);
        }
}

// Paints text with its logical box centred on (centreX, centreY), or
// starting at `left` when that is not negative.
void paintText(CardCanvas& canvas, const std::string& text, const TextStyle& style, int left, int centreX,
               int centreY, CardColour colour) {
    const TextBlock block = setText(text, style);
    if (block.coverage.empty()) return;
    const int originX = left >= 0 ? left - block.boxLeft : centreX - block.boxLeft - block.boxWidth / 2;
    const int originY = centreY - block.boxTop - block.boxHeight / 2;
    paintCoverage(canvas, block.coverage, block.width, block.height, originX + block.left, originY + block.top,
                  colour, 1.0);
}

}  // namespace

bool isLivePicture(const std::string& jpeg) {
    const std::string mark(livePictureMark);
    // The mark is the first segment after the start of the image.
    return jpeg.size() > 6 + mark.size() && jpeg.compare(0, 4, "\xFF\xD8\xFF\xFE") == 0 &&
           jpeg.compare(6, mark.size(), mark) == 0;
}

std::string markedJpeg(const CardCanvas& canvas) {
    const std::vector<unsigned char> plain =
        encodeJpeg(canvas.width, canvas.height, 3, canvas.pixels, pictureQuality);
    if (plain.size() < 2) return std::string();
    const std::string mark(livePictureMark);
    const size_t length = mark.size() + 2;
    std::string jpeg = "\xFF\xD8\xFF\xFE";
    jpeg += static_cast<char>(length >> 8);
    jpeg += static_cast<char>(length & 0xFF);
    jpeg += mark;
    jpeg.append(reinterpret_cast<const char*>(plain.data()) + 2, plain.size() - 2);
    return jpeg;
}

CardCanvas pictureWithName(const Capture& capture, const std::string& name, int number) {
    CardCanvas canvas;
    canvas.width = capture.width;
    canvas.height = capture.height;
    canvas.pixels = capture.pixels;
    if (canvas.pixels.size() != static_cast<size_t>(canvas.width) * canvas.height * 3) {
        canvas = CardCanvas{cardWidth, cardHeight, std::vector<unsigned char>(cardWidth * cardHeight * 3, 0)};
    }
    darken(canvas, canvas.height - stripHeight, canvas.height, 0.35);
    TextStyle style;
    style.pixelSize = 14;
    style.width = canvas.width - 16;
    const std::string label = std::to_string(number) + "  " + cleanText(name);
    paintText(canvas, label, style, 8, 0, canvas.height - stripHeight / 2, CardColour{255, 255, 255});
    return canvas;
}

CardCanvas noSignalCard(const CardCanvas& card, long long lastTry) {
    CardCanvas canvas = card;
    darken(canvas, 0, canvas.height, 0.4);
    darken(canvas, canvas.height / 2 - 32, canvas.height / 2 + 30, 0.3);  // a calm ground for the words
    TextStyle big;
    big.pixelSize = 26;
    paintText(canvas, "No signal", big, -1, canvas.width / 2, canvas.height / 2 - 14, CardColour{255, 255, 255});
    const std::time_t when = static_cast<std::time_t>(lastTry);
    std::tm local {};
    char clock[16] = "";
    if (localtime_r(&when, &local)) std::strftime(clock, sizeof clock, "%H:%M", &local);
    TextStyle small;
    small.pixelSize = 14;
    small.bold = false;
    paintText(canvas, std::string("last try ") + clock, small, -1, canvas.width / 2, canvas.height / 2 + 16,
              CardColour{220, 220, 220});
    return canvas;
}

bool decodeCard(const std::string& jpeg, CardCanvas& card) {
    RgbaImage image;
    std::string problem;
    if (!decodeLogo(jpeg, cardWidth, cardHeight, image, problem)) return false;
    card = CardCanvas{cardWidth, cardHeight, std::vector<unsigned char>(cardWidth * cardHeight * 3, 0)};
    // A card of another size is drawn in the middle.
    paintImage(card, image, (cardWidth - image.width) / 2, (cardHeight - image.height) / 2);
    return true;
}

std::string hostOf(const std::string& address) {
    const size_t scheme = address.find("://");
    if (scheme == std::string::npos) return std::string();
    size_t start = scheme + 3;
    const size_t end = address.find_first_of("/?#", start);
    std::string authority = address.substr(start, end == std::string::npos ? std::string::npos : end - start);
    const size_t at = authority.rfind('@');
    if (at != std::string::npos) authority = authority.substr(at + 1);
    return authority;
}

