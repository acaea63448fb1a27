#include "nav/clicks.h"

#include <cstdlib>

namespace {

bool withinSlop(const ClickTracker& clicks, int x, int y) {
    return std::abs(x - clicks.pressX) <= clickSlop && std::abs(y - clicks.pressY) <= clickSlop;
}

}  // namespace

void notePress(ClickTracker& clicks, int x, int y, long long now) {
    clicks.pressed = true;
    clicks.pressX = x;
    clicks.pressY = y;
    clicks.pressAt = now;
    clicks.dragged = false;
}

void noteMotion(ClickTracker& clicks, int x, int y) {
    if (clicks.pressed && !withinSlop(clicks, x, y)) clicks.dragged = true;
}

bool noteRelease(ClickTracker& clicks, int x, int y) {
    const bool click = clicks.pressed && !clicks.dragged && withinSlop(clicks, x, y);
    clicks.pressed = false;
    // A drag ends any double-click under way.
    if (!click) clicks.lastTile = 0;
    return click;
}

bool noteClickedTile(ClickTracker& clicks, int tile) {
    const bool second = tile != 0 && tile == clicks.lastTile &&
                        clicks.pressAt >= clicks.lastAt &&
                        clicks.pressAt - clicks.lastAt <= doubleClickInterval;
    clicks.lastTile = second ? 0 : tile;
    clicks.lastAt = clicks.pressAt;
    return second;
}
