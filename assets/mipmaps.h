// The mipmap chain of a picture, computed in the program with the box filter
// of GLU's gluBuild2DMipmaps, byte for byte. No OpenGL here.
#pragma once

#include <cstddef>

// Whether a texture side is a power of two (1, 2, 4, ...).
bool isPowerOfTwo(int side);

// The size of the next mipmap level of a side: halved, but never below 1.
inline int halvedSide(int side) { return side > 1 ? side / 2 : 1; }

// Writes the next mipmap level of a picture of width x height pixels of
// `components` bytes each, rows without gaps, into `half` (room for
// halvedSide(width) x halvedSide(height) pixels): each texel the rounded
// mean of the 2 x 2 texels it covers, or the truncated mean of 2 once one
// side is 1. Not for 1 x 1.
void halveImage(const unsigned char* pixels, int width, int height, int components, unsigned char* half);

// Bytes the graphics library keeps for a texture of width x height with all
// its mipmap levels, at four bytes a texel.
size_t mipmappedTextureBytes(int width, int height);
