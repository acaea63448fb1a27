#include <GL/freeglut.h>
#include <plib/pu.h>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "app/frames.h"
#include "app/shell.h"
#include "nav/keys.h"
#include "platform/platform.h"
#include "play/watch.h"
#include "scene/wall.h"

void quitViewer() { endProcess(0); }

void startShell() {
    glutDisplayFunc(onDisplay);
    glutTimerFunc(60, onTimer, 1);
    glutKeyboardFunc(onPlayKeyboard);
    glutSpecialFunc(onPlaySpecialKey);
    glutCloseFunc(onPlayerWindowClose);
    glutMouseFunc(onMouse);
    glutMotionFunc(onMotion);
    glutReshapeFunc(onReshape);
    onQuit = quitViewer;
    // The wall cannot be drawn without its images and models; the reason
    // has been reported.
    if (!setupScene()) endProcess(1);
    puInit();
    syncSwapsToDisplay();
}

void giveBackFreeMemory() {
#if defined(__GLIBC__)
    // Scrolling frees texture storage (about 171 KiB a thumbnail) between
    // blocks still in use; glibc keeps such holes in the heap resident.
    // Trimming hands every whole free page back to the system.
    malloc_trim(0);
#endif
}
