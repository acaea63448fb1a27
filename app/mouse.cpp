// The mouse: every event goes to the GUI layer; dragging turns the camera, a
// click on a selectable tile selects it and a double-click opens it, and the
// wheel scrolls the list one row a notch.
#include <GL/freeglut.h>
#include <plib/pu.h>

#include <algorithm>

#include "app/shell.h"
#include "nav/clicks.h"
#include "nav/commands.h"
#include "play/watch.h"
#include "scene/placement.h"
#include "scene/wall.h"
#include "state/catalogue.h"
#include "state/state_files.h"

int dragAnchorX = 0;
int dragAnchorY = 0;
float dragAnchorPitch = 0;
float dragAnchorYaw = 0;

namespace {

// The toolkit reports a notch of the wheel as a press and a release of these
// buttons.
const int wheelUpButton = 3;
const int wheelDownButton = 4;

ClickTracker clicks;

long long now() { return glutGet(GLUT_ELAPSED_TIME); }

}  // namespace

int tileUnderPointer(int x, int y) {
    // The wall's own numbers: the scale it reads from its file, the
    // projection the window was last shaped with, and its tile model.
    const std::optional<float> scale = readFloat(stateFile(StateFile::wallScale));
    const WallView view = {glutGet(GLUT_WINDOW_WIDTH), std::max(1, glutGet(GLUT_WINDOW_HEIGHT)),
                           fieldOfView, aspectRatio};
    const TileOutline outline = tileModel ? modelOutline(*tileModel) : deliveredTileOutline;
    return tileAtPixel(view, scale ? *scale : defaultWallScale, outline, x, y);
}

float dragAngle(float anchorAngle, int anchorPosition, int position) {
    return static_cast<float>(anchorAngle - (anchorPosition - position) / 5.0);
}

void onMouse(int button, int state, int x, int y) {
    puMouse(button, state, x, y);
    glutPostRedisplay();
    // A channel being watched fills the window: the wall under it takes no
    // pointing.
    if (watching()) return;
    if (button == GLUT_LEFT_BUTTON && state == GLUT_DOWN) {
        dragAnchorX = x;
        dragAnchorY = y;
        dragAnchorPitch = cameraPitch;
        dragAnchorYaw = cameraYaw;
        // Pointing somewhere drops a channel number being typed.
        forgetTypedNumber();
        notePress(clicks, x, y, now());
    } else if (button == GLUT_LEFT_BUTTON && state == GLUT_UP) {
        if (!noteRelease(clicks, x, y)) return;
        // A click selects a selectable tile, as the arrow keys would; the
        // second click of a double-click on it opens it, as Enter does.
        const int tile = tileUnderPointer(clicks.pressX, clicks.pressY);
        const bool second = noteClickedTile(clicks, tile);
        if (tile < 1 || tile > selectableTiles) return;
        selectTile(tile);
        if (second) openChannelHere();
    } else if ((button == wheelUpButton || button == wheelDownButton) && state == GLUT_DOWN) {
        forgetTypedNumber();
        scrollOneRow(button == wheelDownButton);
    }
}

void onMotion(int x, int y) {
    puMouse(x, y);
    glutPostRedisplay();
    if (watching()) return;
    noteMotion(clicks, x, y);
    // One pixel turns the camera by 0.2 degrees: right increases the yaw,
    // down increases the pitch. Angles are neither limited nor wrapped.
    cameraYaw = dragAngle(dragAnchorYaw, dragAnchorX, x);
    cameraPitch = dragAngle(dragAnchorPitch, dragAnchorY, y);
    glutPostRedisplay();
}
