#include <GL/freeglut.h>

#include "app/shell.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
    // freeglut must be initialised before any other toolkit call.
    glutInit(&argc, argv);
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
