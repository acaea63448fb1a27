#include "tests/support/gl_context.h"

#include <GL/freeglut.h>
#include <plib/pu.h>

void ensureGlContext() {
    static bool ready = false;
    if (ready) return;
    int argc = 1;
    char name[] = "quillon-test";
    char* argv[] = {name, nullptr};
    glutInit(&argc, argv);
    glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH | GLUT_STENCIL);
    glutInitWindowSize(256, 256);
    glutCreateWindow("quillon-test");
    puInit();
    ready = true;
}

void readPixel(int x, int y, unsigned char rgb[3]) {
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(x, y, 1, 1, GL_RGB, GL_UNSIGNED_BYTE, rgb);
}

#include "app/tile_watch.h"
#include "assets/texture.h"
#include "nav/find.h"
#include "nav/commands.h"
#include "scene/wall.h"
#include "state/catalogue.h"


void resetWall() {
    leaveFind();
    for (int list = 1; list <= findList; ++list)
        for (int k = 1; k <= 16; ++k) {
            discardTexture(tileTextures[list][k]);
            tileTextures[list][k] = nullptr;
            thumbnailRefresh[list][k] = false;
        }
    currentList = 1;
    forgetTypedNumber();
    endTileWatch();
    // Textures no tile holds stay registered by design; between tests they
    // would name files of an earlier scratch folder under the same paths.
    forgetAllTextures();
    setUnheldTextureBudget(defaultUnheldTextureBudget);
}
