#include <GL/freeglut.h>

#include <cstdio>

#include "app/shell.h"
#include "platform/folder_lock.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
    mapLargeBlocksApart();
    // freeglut must be initialised before any other toolkit call.
    glutInit(&argc, argv);
    // One program at a time on a data root: a second viewer, or an import
    // switching in a new catalogue, would mix its writes with this one's.
    if (lockFolder("VESTRALUME") == folderBusy) {
        std::fprintf(stderr, "Quillon cannot start: VESTRALUME/ is in use by another Quillon "
                             "or by an import into it\n");
        endProcess(1);
    }
    glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH | GLUT_STENCIL);
    int width = 0;
    int height = 0;
    getDesktopSize(width, height);
    glutInitWindowSize(width, height);
    glutCreateWindow("Quillon");
    // Closing the window ends the process through the standard exit routine.
    glutSetOption(GLUT_ACTION_ON_WINDOW_CLOSE, GLUT_ACTION_EXIT);
    startShell();
    glutMainLoop();
    return 0;
}
