#include <GL/freeglut.h>
#include <plib/pu.h>

#include "app/shell.h"

int dragAnchorX = 0;
int dragAnchorY = 0;
float dragAnchorPitch = 0;
float dragAnchorYaw = 0;

float dragAngle(float anchorAngle, int anchorPosition, int position) {
    return static_cast<float>(anchorAngle - (anchorPosition - position) / 5.0);
}

void onMouse(int button, int state, int x, int y) {
    puMouse(button, state, x, y);
    glutPostRedisplay();
    if (button == GLUT_LEFT_BUTTON && state == GLUT_DOWN) {
        dragAnchorX = x;
        dragAnchorY = y;
        dragAnchorPitch = cameraPitch;
        dragAnchorYaw = cameraYaw;
    }
}

void onMotion(int x, int y) {
    puMouse(x, y);
    glutPostRedisplay();
    // One pixel turns the camera by 0.2 degrees: right increases the yaw,
    // down increases the pitch. Angles are neither limited nor wrapped.
    cameraYaw = dragAngle(dragAnchorYaw, dragAnchorX, x);
    cameraPitch = dragAngle(dragAnchorPitch, dragAnchorY, y);
    glutPostRedisplay();
}
