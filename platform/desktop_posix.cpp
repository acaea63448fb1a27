// The desktop size on Linux and other systems with X11. Apart from the rest
// of the operating-system layer so that only programs that open a window
// link X11 (tools that never ask for the desktop, such as the upgrader and
// the importer, use the other files of this folder without it).
#include "platform/platform.h"

#include <X11/Xlib.h>

void getDesktopSize(int& width, int& height) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) return;
    int screen = DefaultScreen(display);
    width = DisplayWidth(display, screen);
    height = DisplayHeight(display, screen);
    XCloseDisplay(display);
}
