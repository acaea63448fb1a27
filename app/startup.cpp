#include <GL/freeglut.h>
#include <plib/pu.h>

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
