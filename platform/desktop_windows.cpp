// The desktop size on Windows.
#ifdef _WIN32

#include "platform/platform.h"

#include <windows.h>

void getDesktopSize(int& width, int& height) {
    RECT desktop;
    if (!GetWindowRect(GetDesktopWindow(), &desktop)) return;
    width = desktop.right;
    height = desktop.bottom;
}

#endif  // _WIN32
