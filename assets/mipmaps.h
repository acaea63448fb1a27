// The mipmap chain of a picture, computed in the program with the box filter
// of GLU's gluBuild2DMipmaps, byte for byte. No OpenGL here.
#pragma once

#include <cstddef>
#include <vector>

// Whether a texture side is a power of two (1, 2, 4, ...).
bool isPowerOfTwo(int side);

// The next mipmap level of a picture of width x height pixels of
// `components` bytes each, rows without gaps: both sides halved (a side of 1
// stays 1), each texel the rounded mean of the 2 x 2 texels it covers, or
// the truncated mean of 2 when one side is already 1. Not for 1 x 1.
std::vector<unsigned char> halveImage(const unsigned char* pixels, int width, int height, int components);

// Bytes the graphics library keeps for a texture of width x height with all
// its mipmap levels, at four bytes a texel.
size_t mipmappedTextureBytes(int width, int height);
