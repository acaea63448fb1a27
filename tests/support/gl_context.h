// A real OpenGL context for tests that upload textures or draw: a small
// GLUT window on the test's X display (Xvfb in the test command).
#pragma once

// Creates the window once per test program and makes its context current.
// Also initialises the GUI layer so that input callbacks can be called.
void ensureGlContext();

// Reads the colour of one pixel of the back buffer after drawing
// (x, y from the bottom left), as red, green, blue in 0..255.
void readPixel(int x, int y, unsigned char rgb[3]);

// Leaves find mode, gives up every tile texture of every list, empties the
// texture registry, clears the thumbnail refreshes, makes list 1 current and
// drops a channel number being typed, so that each test starts with an
// empty wall.
void resetWall();
