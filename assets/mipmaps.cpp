// GLU's mipmap arithmetic for unsigned bytes, so that a chain built here
// gives exactly the texels gluBuild2DMipmaps gives: a 2 x 2 block is
// averaged with rounding, (a + b + c + d + 2) / 4; once a side has shrunk to
// 1, pairs along the other side are averaged without rounding, (a + b) / 2.
#include "assets/mipmaps.h"

#include <cstddef>

bool isPowerOfTwo(int side) { return side > 0 && (side & (side - 1)) == 0; }

void halveImage(const unsigned char* pixels, int width, int height, int components, unsigned char* half) {
    const int halfWidth = halvedSide(width);
    const int halfHeight = halvedSide(height);
    const size_t stride = static_cast<size_t>(width) * components;
    unsigned char* out = half;
    if (width == 1 || height == 1) {
        // One row or one column: neighbours along it, two at a time.
        const size_t step = width == 1 ? stride : static_cast<size_t>(components);
        const int count = width == 1 ? halfHeight : halfWidth;
        for (int i = 0; i < count; ++i) {
            const unsigned char* a = pixels + 2 * step * i;
            for (int c = 0; c < components; ++c) *out++ = static_cast<unsigned char>((a[c] + a[c + step]) / 2);
        }
        return;
    }
    for (int y = 0; y < halfHeight; ++y) {
        const unsigned char* row = pixels + 2 * stride * y;
        const unsigned char* next = row + stride;
        for (int x = 0; x < halfWidth; ++x) {
            const size_t left = static_cast<size_t>(2 * x) * components;
            const size_t right = left + components;
            for (int c = 0; c < components; ++c)
                *out++ = static_cast<unsigned char>(
                    (row[left + c] + row[right + c] + next[left + c] + next[right + c] + 2) / 4);
        }
    }
}

size_t mipmappedTextureBytes(int width, int height) {
    size_t bytes = 0;
    for (;;) {
        bytes += static_cast<size_t>(width) * height * 4;
        if (width == 1 && height == 1) return bytes;
        width = halvedSide(width);
        height = halvedSide(height);
    }
}
