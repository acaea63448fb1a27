// Writes JPEG files from RGB or greyscale pixels, for the data-root tools,
// the tests and the benchmarks (the viewer itself only reads JPEG).
#pragma once

#include <string>
#include <vector>

// `pixels` holds height rows of width * components bytes, top row first.
// components is 1 (grey), 3 (RGB) or 4 (CMYK, written as an Adobe CMYK JPEG).
bool writeJpeg(const std::string& path, int width, int height, int components,
               const std::vector<unsigned char>& pixels, int quality = 90);

// The same JPEG in memory: the file's bytes, or an empty vector when the
// arguments are unusable.
std::vector<unsigned char> encodeJpeg(int width, int height, int components,
                                      const std::vector<unsigned char>& pixels, int quality = 90);

// A JPEG of one colour.
bool writeSolidJpeg(const std::string& path, int width, int height, unsigned char red,
                    unsigned char green, unsigned char blue);
