// Logo files of every format the card maker reads, written with libvips for
// the card tests: the same picture (a red block on a transparent or white
// ground) as PNG with alpha, palette PNG, 16-bit PNG, grey PNG, progressive
// JPEG, CMYK JPEG, WebP, an animated GIF whose first frame is the red one,
// and SVG; and files that are no logo at all.
#pragma once

#include <vips/vips.h>

#include <fstream>
#include <string>
#include <vector>

namespace cardfixtures {

constexpr int logoWidth = 240;
constexpr int logoHeight = 120;

// A logo of logoWidth x logoHeight: a red block over the middle half, the
// rest transparent (with alpha) or white.
inline std::vector<unsigned char> logoPixels(bool alpha, unsigned char red = 200,
                                             unsigned char green = 30, unsigned char blue = 30) {
    const int bands = alpha ? 4 : 3;
    std::vector<unsigned char> pixels(static_cast<size_t>(logoWidth) * logoHeight * bands);
    for (int y = 0; y < logoHeight; ++y)
        for (int x = 0; x < logoWidth; ++x) {
            unsigned char* p = &pixels[(static_cast<size_t>(y) * logoWidth + x) * bands];
            const bool inside = x >= logoWidth / 4 && x < logoWidth * 3 / 4 &&
                                y >= logoHeight / 4 && y < logoHeight * 3 / 4;
            p[0] = inside ? red : 255;
            p[1] = inside ? green : 255;
            p[2] = inside ? blue : 255;
            if (alpha) p[3] = inside ? 255 : 0;
        }
    return pixels;
}

// An sRGB image of a copy of `pixels`.
inline VipsImage* imageOf(const std::vector<unsigned char>& pixels, int width, int height,
                          int bands) {
    VipsImage* memory = vips_image_new_from_memory_copy(pixels.data(), pixels.size(), width, height,
                                                        bands, VIPS_FORMAT_UCHAR);
    VipsImage* image = nullptr;
    if (memory) vips_copy(memory, &image, "interpretation", VIPS_INTERPRETATION_sRGB, nullptr);
    if (memory) g_object_unref(memory);
    return image;
}

inline void writeText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

inline const char* svgLogo() {
    return "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"60\" height=\"30\">"
           "<rect x=\"15\" y=\"7.5\" width=\"30\" height=\"15\" fill=\"rgb(200,30,30)\"/></svg>";
}

// Writes the logos into `folder` and returns their file names. False
// results from libvips leave a file out, which the tests then notice.
inline std::vector<std::string> writeLogos(const std::string& folder) {
    if (vips_init("quillon-tests") != 0) return {};
    std::vector<std::string> names;
    VipsImage* rgba = imageOf(logoPixels(true), logoWidth, logoHeight, 4);
    VipsImage* rgb = imageOf(logoPixels(false), logoWidth, logoHeight, 3);
    auto keep = [&](int status, const char* name) {
        if (status == 0) names.push_back(name);
    };
    keep(vips_pngsave(rgba, (folder + "/alpha.png").c_str(), nullptr), "alpha.png");
    keep(vips_pngsave(rgba, (folder + "/palette.png").c_str(), "palette", TRUE, nullptr),
         "palette.png");
    VipsImage* grey = nullptr;
    if (vips_colourspace(rgb, &grey, VIPS_INTERPRETATION_B_W, nullptr) == 0) {
        keep(vips_pngsave(grey, (folder + "/grey.png").c_str(), nullptr), "grey.png");
        g_object_unref(grey);
    }
    VipsImage* deep = nullptr;
    if (vips_colourspace(rgba, &deep, VIPS_INTERPRETATION_RGB16, nullptr) == 0) {
        keep(vips_pngsave(deep, (folder + "/deep.png").c_str(), "bitdepth", 16, nullptr),
             "deep.png");
        g_object_unref(deep);
    }
    keep(vips_jpegsave(rgb, (folder + "/progressive.jpg").c_str(), "interlace", TRUE, nullptr),
         "progressive.jpg");
    VipsImage* cmyk = nullptr;
    if (vips_colourspace(rgb, &cmyk, VIPS_INTERPRETATION_CMYK, nullptr) == 0) {
        keep(vips_jpegsave(cmyk, (folder + "/cmyk.jpg").c_str(), nullptr), "cmyk.jpg");
        g_object_unref(cmyk);
    }
    keep(vips_webpsave(rgba, (folder + "/logo.webp").c_str(), "lossless", TRUE, nullptr),
         "logo.webp");
    // Two frames, the red logo first and a blue one after it.
    VipsImage* blue = imageOf(logoPixels(true, 20, 40, 220), logoWidth, logoHeight, 4);
    VipsImage* frames[] = {rgba, blue};
    VipsImage* animation = nullptr;
    if (vips_arrayjoin(frames, &animation, 2, "across", 1, nullptr) == 0) {
        VipsImage* paged = nullptr;
        if (vips_copy(animation, &paged, nullptr) == 0) {
            vips_image_set_int(paged, "page-height", logoHeight);
            keep(vips_gifsave(paged, (folder + "/animated.gif").c_str(), nullptr), "animated.gif");
            g_object_unref(paged);
        }
        g_object_unref(animation);
    }
    g_object_unref(blue);
    writeText(folder + "/drawing.svg", svgLogo());
    names.push_back("drawing.svg");
    g_object_unref(rgb);
    g_object_unref(rgba);
    return names;
}

}  // namespace cardfixtures
