// Decoded pictures as plain owned values, apart from the textures made of
// them. No OpenGL here, so that decoding can be exercised on its own (tests,
// fuzzing).
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

// One decoded picture: `height` rows of `components` x `width` bytes each,
// without gaps, the bottom row first (so texture coordinate t = 0 is the
// picture's bottom edge). One byte per component: R, G, B for colour, one
// grey value for greyscale.
struct Image {
    int components = 0;  // 1 grey, 3 colour
    int width = 0;
    int height = 0;
    std::unique_ptr<unsigned char[]> pixels;
};

// How many files have been decoded since start-up (for tests and benchmarks).
extern long decodeCount;

// Decodes one JPEG file (CMYK and YCCK converted to RGB), or nothing when it
// cannot be opened or decoded: then "Impossível carregar arquivo JPG: <path>"
// is printed.
std::optional<Image> decodeJpeg(const std::string& path);

// Why a picture was not decoded.
enum class JpegFailure {
    none,
    damaged,    // not a JPEG the decoder reads whole (or no memory for it)
    oversized,  // wider or higher than maxImageSide, refused from its header
};

// The same from bytes in memory; `label` names them in messages, and
// `failure`, when given, says why nothing was decoded. libjpeg's own
// messages go through the report channel too (platform/report.h), as
// problems.
std::optional<Image> decodeJpegMemory(const unsigned char* data, size_t size, const std::string& label,
                                      JpegFailure* failure = nullptr);

// Reads only the header of a JPEG in memory, as decodeJpegMemory does before
// it decodes: whether the decoder takes the picture up (its colour space,
// its size within the pixel cap). Faster than a whole decode, for checking
// many pictures.
JpegFailure probeJpegMemory(const unsigned char* data, size_t size);
