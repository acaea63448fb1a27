#include <GL/freeglut.h>
#include <plib/pu.h>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "app/frames.h"
#include "app/shell.h"
#include "nav/keys.h"
#include "scene/wall.h"

void startShell() {
    glutDisplayFunc(onDisplay);
    glutTimerFunc(60, onTimer, 1);
    glutKeyboardFunc(onKeyboard);
    glutSpecialFunc(onSpecialKey);
    glutMouseFunc(onMouse);
    glutMotionFunc(onMotion);
    glutReshapeFunc(onReshape);
    setupScene();
    puInit();
    syncSwapsToDisplay();
}

void mapLargeBlocksApart() {
#if defined(__GLIBC__)
    // Texture storage (about 171 KiB for a 256 x 128 thumbnail with its
    // mipmaps) is taken and given back all the time while scrolling. glibc
    // raises its threshold for mapping a block on its own once the first
    // such block is freed, and from then on keeps them in the heap, where
    // the holes freed ones leave stay resident. A fixed threshold maps every
    // block of 128 KiB or more apart and gives it back whole when freed.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
#endif
}
