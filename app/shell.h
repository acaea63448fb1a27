// The application shell: frame display, projection, timer and the mouse,
// with the camera values they share.
#pragma once

extern float cameraPitch;        // degrees about the x axis
extern float cameraYaw;          // degrees about the y axis
extern float cameraPosition[3];  // the display translates by its negation
extern float fieldOfView;        // vertical, degrees
extern float aspectRatio;        // window width / height
extern long framesDrawn;         // frames drawn since start-up

// Where the last left-button press anchored a drag.
extern int dragAnchorX;
extern int dragAnchorY;
extern float dragAnchorPitch;
extern float dragAnchorYaw;

void onDisplay();

// Draws find mode's line (nav/find.h) in a band above the wall, in window
// pixels; nothing when find mode is off.
void drawFindBar();
void onTimer(int value);
void onReshape(int width, int height);
void setProjection();
void onMouse(int button, int state, int x, int y);
void onMotion(int x, int y);

// The tile (1 to 16) under the window pixel (x, y), y from the top, on the
// wall as it is drawn now; 0 beside the wall.
int tileUnderPointer(int x, int y);

// The camera angle a drag gives: the anchor's angle minus the pixel distance
// from the anchor divided by 5, computed in double precision.
float dragAngle(float anchorAngle, int anchorPosition, int position);

// The aspect ratio of a window; a height of 0 counts as 1.
float windowAspect(int width, int height);

// Registers every callback, runs the scene set-up and the GUI layer's
// initialisation. Needs the window made current. A scene that cannot be set
// up ends the process with status 1.
void startShell();

// Esc's end of the program (nav/keys.h onQuit): status 0, exit-time
// clean-up run.
void quitViewer();

// Gives the memory freed since the last time back to the system, so that
// resident memory follows the textures kept rather than the most ever kept.
// The timer does it once the wall has rested for a while after frames.
void giveBackFreeMemory();
