#include <GL/freeglut.h>
#include <GL/glu.h>
#include <plib/pu.h>

#include <chrono>

#include "app/catalogue_follow.h"
#include "app/frames.h"
#include "app/shell.h"
#include "app/tile_watch.h"
#include "launch/alternatives.h"
#include "launch/live_pictures.h"
#include "launch/playlist_refresh.h"
#include "nav/page.h"
#include "play/watch.h"
#include "scene/wall.h"
#include "state/catalogue.h"

float cameraPitch = 0;
float cameraYaw = 0;
float cameraPosition[3] = {0, 150, 100};
float fieldOfView = 60;
float aspectRatio = 0;
long framesDrawn = 0;

namespace {
const GLfloat light0Position[] = {0, 200, 250, 1};
const GLfloat light1Position[] = {0, 200, 0, 1};
const GLfloat light2Position[] = {0, 200, -250, 1};
const GLfloat light3Position[] = {1, 0.2f, 0, 0};
const GLfloat eyeLightPosition[] = {0, 0, 0, 1};
const GLfloat eyeLightDirection[] = {0, 0, -1};

// What the frame on screen was drawn from, and when it was drawn.
FrameState lastFrame;
std::chrono::steady_clock::time_point lastFrameTime;
// How many frames had been drawn when memory was last given back.
long framesAtLastGivingBack = 0;

// A frame when the picture would change; nothing otherwise. False when none
// is due.
bool requestFrameIfDue() {
    if (!frameDue(framesDrawn > 0 ? &lastFrame : nullptr, currentFrameState())) return false;
    glutPostRedisplay();
    return true;
}

}  // namespace

void onDisplay() {
    // Taken before drawing: a change made while the frame is drawn shows in
    // the next one.
    const FrameState drawing = currentFrameState();
    if (watching()) {
        // A channel being watched fills the window in place of the wall.
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        drawWatching(glutGet(GLUT_WINDOW_WIDTH), glutGet(GLUT_WINDOW_HEIGHT));
        glutSwapBuffers();
        lastFrameTime = std::chrono::steady_clock::now();
        ++framesDrawn;
        return;
    }
    preparePlayingTile();
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glLoadIdentity();
    // The wall is drawn in eye coordinates, before the camera: it stays in
    // front of the viewer however the camera turns.
    drawWall();
    drawFindBar();
    glLightfv(GL_LIGHT4, GL_POSITION, eyeLightPosition);
    glLightfv(GL_LIGHT4, GL_SPOT_DIRECTION, eyeLightDirection);
    glRotatef(cameraPitch, 1, 0, 0);
    glRotatef(cameraYaw, 0, 1, 0);
    glTranslatef(-cameraPosition[0], -cameraPosition[1], -cameraPosition[2]);
    glEnable(GL_TEXTURE_2D);
    glLightfv(GL_LIGHT0, GL_POSITION, light0Position);
    glLightfv(GL_LIGHT1, GL_POSITION, light1Position);
    glLightfv(GL_LIGHT2, GL_POSITION, light2Position);
    glLightfv(GL_LIGHT3, GL_POSITION, light3Position);
    // Lighting is on only for the first frame; from then on the wall is drawn
    // with the colours of its textures alone.
    glDisable(GL_LIGHTING);
    glColor4f(0.8f, 0, 0, 0.85f);
    puDisplay();
    glutSwapBuffers();
    lastFrame = drawing;
    lastFrameTime = std::chrono::steady_clock::now();
    ++framesDrawn;
    // Frames keep coming while the picture changes (a thumbnail refresh
    // loads a tile in every frame and shows it in the next).
    requestFrameIfDue();
}

// Between frames the wall's state files are looked at, so that a change
// made from outside shows, and a thumbnail replaced on disk is decoded
// again; a wall at rest is not drawn again. Once it has rested a while, the
// memory freed meanwhile goes back to the system. The companion that keeps
// the live pictures is looked after here too.
void onTimer(int) {
    const long long now = std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::steady_clock::now().time_since_epoch())
                              .count();
    tendLivePictures(now);
    // An import beside the wall may have switched another catalogue in; the
    // playlists it came from are refreshed when due.
    followCatalogue(now);
    tendPlaylistRefresh(now);
    // A channel with alternatives opens once one of its servers answered.
    openChosenChannel();
    renewChangedTiles();
    // A picture of a playing channel, or a change of what plays, asks for a
    // frame; the player's threads only ever raise flags read here.
    const WallFiles files = currentWallFiles();
    const int tile = files.selectedTile.value_or(0);
    const SelectionSpot spot{currentList, pageBuilds, tile >= 1 && tile <= selectableTiles ? tile : 0};
    if (pollPlayback(spot)) glutPostRedisplay();
    if (watching()) {
        // The wall is not on screen: its state is looked at again on return.
    } else if (!requestFrameIfDue()) {
        const auto rest = std::chrono::steady_clock::now() - lastFrameTime;
        const long restMilliseconds =
            static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(rest).count());
        if (givingBackDue(framesDrawn, framesAtLastGivingBack, restMilliseconds)) {
            giveBackFreeMemory();
            framesAtLastGivingBack = framesDrawn;
        }
    }
    glutTimerFunc(statePollMilliseconds, onTimer, 0);
}

float windowAspect(int width, int height) {
    if (height == 0) height = 1;
    return static_cast<float>(static_cast<double>(width) / static_cast<double>(height));
}

void setProjection() {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(fieldOfView, aspectRatio, 0.1, 1000000);
    glMatrixMode(GL_MODELVIEW);
}

void onReshape(int width, int height) {
    if (height == 0) height = 1;
    glViewport(0, 0, width, height);
    aspectRatio = windowAspect(width, height);
    setProjection();
    glutPostRedisplay();
}
