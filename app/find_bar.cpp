// The line of find mode above the wall: what is typed and how many channels
// match, white on a dark band across the top of the window.
#include <GL/freeglut.h>

#include <string>

#include "app/shell.h"
#include "nav/find.h"

namespace {

// The band's height and the text's place in it, in pixels.
const int bandHeight = 48;
const int textLeft = 24;
const int textBaseline = 32;

}  // namespace

void drawFindBar() {
    if (!findActive()) return;
    const int width = glutGet(GLUT_WINDOW_WIDTH);
    const int height = glutGet(GLUT_WINDOW_HEIGHT);
    if (width <= 0 || height <= 0) return;
    const std::string text = findBarText();

    glPushAttrib(GL_ENABLE_BIT | GL_CURRENT_BIT | GL_TRANSFORM_BIT);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_LIGHTING);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_BLEND);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    // Window pixels, y from the top.
    glOrtho(0, width, height, 0, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();

    glColor3f(0.08f, 0.08f, 0.12f);
    glBegin(GL_QUADS);
    glVertex2i(0, 0);
    glVertex2i(width, 0);
    glVertex2i(width, bandHeight);
    glVertex2i(0, bandHeight);
    glEnd();
    glColor3f(1, 1, 1);
    glRasterPos2i(textLeft, textBaseline);
    glutBitmapString(GLUT_BITMAP_HELVETICA_18, reinterpret_cast<const unsigned char*>(text.c_str()));

    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glPopAttrib();
}
