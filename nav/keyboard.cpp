#include <GL/freeglut.h>
#include <plib/pu.h>

#include "nav/keys.h"
#include "platform/platform.h"

void onKeyboard(unsigned char key, int, int) {
    puKeyboard(key, PU_DOWN);
    glutPostRedisplay();
    if (key == 27) endProcess(0);
}
