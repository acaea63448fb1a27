// Telling a click from a drag, and a double-click from two clicks, on the
// left mouse button. Times are milliseconds from any fixed start and are
// passed in. No files, no OpenGL.
#pragma once

// How far the pointer may move between press and release of a click, in
// pixels along each axis; further, and it is a drag.
constexpr int clickSlop = 4;

// The longest time from the press of one click to the press of the next for
// the two to make a double-click.
constexpr long long doubleClickInterval = 400;

struct ClickTracker {
    bool pressed = false;  // the button is down
    int pressX = 0;        // where and when it went down
    int pressY = 0;
    long long pressAt = 0;
    bool dragged = false;  // the pointer left the slop since the press
    int lastTile = 0;      // the tile of the last click, while it may begin a double-click
    long long lastAt = 0;  // when that click's button went down
};

// The button went down at (x, y).
void notePress(ClickTracker& clicks, int x, int y, long long now);

// The pointer moved to (x, y) with a button down.
void noteMotion(ClickTracker& clicks, int x, int y);

// The button came up at (x, y): whether press and release make a click,
// which happened where the button went down.
bool noteRelease(ClickTracker& clicks, int x, int y);

// A click landed on `tile` (0 when on no tile): whether it is the second
// click of a double-click on that tile. A double-click is not the start of
// the next one.
bool noteClickedTile(ClickTracker& clicks, int tile);
