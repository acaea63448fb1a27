#include <GL/freeglut.h>
#include <plib/pu.h>

#include "nav/keys.h"

void onSpecialKey(int key, int, int) {
    puKeyboard(key + PU_KEY_GLUT_SPECIAL_OFFSET, PU_DOWN);
    glutPostRedisplay();
    glutPostRedisplay();
}
