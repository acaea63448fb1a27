// Test images for the texture and model tests: JPEG files whose four
// quadrants have different colours (so that flipped or mirrored rows show),
// written in every colour layout the decoder handles.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <jpeglib.h>

struct Rgb {
    unsigned char r, g, b;
};

// The quadrant colours of every test image, as the decoded RGB.
constexpr Rgb topLeftColour{230, 30, 30};
constexpr Rgb topRightColour{30, 200, 40};
constexpr Rgb bottomLeftColour{40, 40, 220};
constexpr Rgb bottomRightColour{240, 240, 240};

// How a test image is stored in its JPEG file.
enum class ImageLayout { grey, rgb, progressiveRgb, ycck, adobeCmyk, plainCmyk };

inline int componentsOf(ImageLayout layout) {
    switch (layout) {
    case ImageLayout::grey: return 1;
    case ImageLayout::rgb:
    case ImageLayout::progressiveRgb: return 3;
    default: return 4;
    }
}

// The grey value that stands for a colour in a greyscale image.
inline unsigned char greyOf(Rgb colour) {
    return static_cast<unsigned char>((colour.r + colour.g + colour.b) / 3);
}

// The colour as it is expected back from the decoder (grey images give the
// grey value in all three channels).
inline Rgb expectedColour(Rgb colour, ImageLayout layout) {
    if (layout != ImageLayout::grey) return colour;
    const unsigned char grey = greyOf(colour);
    return {grey, grey, grey};
}

// One pixel as the file stores it. Adobe files keep CMYK inverted (255 is no
// ink); plain CMYK files keep the ink.
inline void storePixel(Rgb colour, ImageLayout layout, unsigned char* out) {
    switch (layout) {
    case ImageLayout::grey:
        out[0] = greyOf(colour);
        break;
    case ImageLayout::rgb:
    case ImageLayout::progressiveRgb:
        out[0] = colour.r;
        out[1] = colour.g;
        out[2] = colour.b;
        break;
    case ImageLayout::ycck:
    case ImageLayout::adobeCmyk:
        out[0] = colour.r;
        out[1] = colour.g;
        out[2] = colour.b;
        out[3] = 255;
        break;
    case ImageLayout::plainCmyk:
        out[0] = static_cast<unsigned char>(255 - colour.r);
        out[1] = static_cast<unsigned char>(255 - colour.g);
        out[2] = static_cast<unsigned char>(255 - colour.b);
        out[3] = 0;
        break;
    }
}

// The quadrant colour of pixel (x, y), y counted from the top.
inline Rgb quadrantColour(int x, int y, int width, int height) {
    const bool left = x < width / 2, top = y < height / 2;
    return top ? (left ? topLeftColour : topRightColour) : (left ? bottomLeftColour : bottomRightColour);
}

// A colour channel moved by up to `noise` either way, the same every run.
inline unsigned char withNoise(unsigned char value, int noise, unsigned& seed) {
    if (noise == 0) return value;
    seed = seed * 1103515245u + 12345u;
    const int moved = value + static_cast<int>((seed >> 16) % (2u * noise + 1)) - noise;
    return static_cast<unsigned char>(moved < 0 ? 0 : moved > 255 ? 255 : moved);
}

// Writes a quadrant image of width x height in the given layout. Noise makes
// the file large (much image data), for cutting it short.
inline bool writeQuadrantJpeg(const std::string& path, int width, int height, ImageLayout layout,
                              int noise = 0) {
    const int components = componentsOf(layout);
    std::vector<unsigned char> pixels(static_cast<size_t>(width) * height * components);
    unsigned seed = 1;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            Rgb colour = quadrantColour(x, y, width, height);
            colour = {withNoise(colour.r, noise, seed), withNoise(colour.g, noise, seed),
                      withNoise(colour.b, noise, seed)};
            storePixel(colour, layout, &pixels[(static_cast<size_t>(y) * width + x) * components]);
        }

    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    jpeg_compress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, file);
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = components;
    info.in_color_space = components == 1 ? JCS_GRAYSCALE : components == 3 ? JCS_RGB : JCS_CMYK;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 95, TRUE);
    if (layout == ImageLayout::adobeCmyk || layout == ImageLayout::plainCmyk) {
        jpeg_set_colorspace(&info, JCS_CMYK);
        info.write_Adobe_marker = layout == ImageLayout::adobeCmyk;
    }
    if (layout == ImageLayout::progressiveRgb) jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    const size_t stride = static_cast<size_t>(width) * components;
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = &pixels[info.next_scanline * stride];
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return std::fclose(file) == 0;
}

// Whether an RGB pixel is within JPEG's error of the expected colour.
inline bool closeTo(const unsigned char* rgb, Rgb expected, int tolerance = 24) {
    return std::abs(rgb[0] - expected.r) <= tolerance && std::abs(rgb[1] - expected.g) <= tolerance &&
           std::abs(rgb[2] - expected.b) <= tolerance;
}

inline std::string describe(const unsigned char* rgb) {
    return std::to_string(rgb[0]) + "," + std::to_string(rgb[1]) + "," + std::to_string(rgb[2]);
}
