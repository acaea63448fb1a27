// Buffer swaps in step with the display, where GLX offers a way to ask.
#include "app/frames.h"

#if __has_include(<GL/glx.h>)
#include <GL/glx.h>

bool syncSwapsToDisplay() {
    Display* display = glXGetCurrentDisplay();
    const GLXDrawable drawable = glXGetCurrentDrawable();
    if (!display || !drawable) return false;
    const char* extensions = glXQueryExtensionsString(display, DefaultScreen(display));
    auto lookUp = [](const char* name) { return glXGetProcAddressARB(reinterpret_cast<const GLubyte*>(name)); };
    if (hasExtension(extensions, "GLX_EXT_swap_control")) {
        using SwapInterval = void (*)(Display*, GLXDrawable, int);
        if (auto set = reinterpret_cast<SwapInterval>(lookUp("glXSwapIntervalEXT"))) {
            set(display, drawable, 1);
            return true;
        }
    }
    if (hasExtension(extensions, "GLX_MESA_swap_control")) {
        using SwapInterval = int (*)(unsigned);
        if (auto set = reinterpret_cast<SwapInterval>(lookUp("glXSwapIntervalMESA")))
            if (set(1) == 0) return true;
    }
    if (hasExtension(extensions, "GLX_SGI_swap_control")) {
        using SwapInterval = int (*)(int);
        if (auto set = reinterpret_cast<SwapInterval>(lookUp("glXSwapIntervalSGI")))
            if (set(1) == 0) return true;
    }
    return false;
}

#else

bool syncSwapsToDisplay() { return false; }

#endif
