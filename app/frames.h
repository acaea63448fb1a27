// When a frame is due. The wall is drawn only when its picture would differ
// from the one on screen, or while a thumbnail refresh needs frames to
// advance; otherwise nothing is drawn and nothing swapped. No OpenGL here.
#pragma once

#include <optional>

// Everything a frame of the wall depends on that can change between frames.
struct FrameState {
    int list = 0;                     // the current list
    std::optional<int> selectedTile;  // VESTRALUME/n/b.txt as the wall reads it
    std::optional<float> wallScale;   // VESTRALUME/n/u.txt as the wall reads it
    long tiles[17] = {};              // per tile of the list: which load made its texture (0: none;
                                      // -1: left out of the wall)
    long selection = 0;               // the same for the selection texture
    bool lit = false;                 // drawn with lighting on: only the first frame is
    float cameraPitch = 0;
    float cameraYaw = 0;
    float aspectRatio = 0;
    bool refreshRunning = false;  // the list's thumbnail refresh has a tile to do
    long findShown = 0;           // what find mode shows above the wall (nav/find.h)
};

// How often the wall's state is looked at between frames, in milliseconds:
// an outside change of VESTRALUME/n/b.txt or u.txt is on screen within this
// and one frame.
constexpr int statePollMilliseconds = 10;

// The values of the wall's two state files, b.txt and u.txt, as the wall
// reads them.
struct WallFiles {
    std::optional<int> selectedTile;
    std::optional<float> wallScale;
};

// The wall's state files as they stand now. They are read again only when
// the system reports a change in the state folder (where it can: inotify),
// and in any case once a second, for file systems whose changes go
// unreported; without change reports they are read on every call.
WallFiles currentWallFiles();

// The state as it stands now.
FrameState currentFrameState();

// Whether two states give the same picture.
bool samePicture(const FrameState& a, const FrameState& b);

// Whether a frame is due, given the state the last frame was drawn from
// (nullptr when none was drawn yet) and the state now.
bool frameDue(const FrameState* lastDrawn, const FrameState& now);

// How long the wall rests after its last frame before the memory freed
// meanwhile is given back to the system, in milliseconds: not between the
// keys of a held key, only once the user stopped.
constexpr long restBeforeGivingBackMilliseconds = 1000;

// Whether memory is to be given back now: frames were drawn since it was
// last given back, and none for the rest above.
bool givingBackDue(long framesDrawn, long framesAtLastGivingBack, long millisecondsSinceLastFrame);

// Whether a GLX extension list (names separated by spaces) holds `name`.
bool hasExtension(const char* extensions, const char* name);

// Asks the graphics library to swap buffers in step with the display
// (swap interval 1), through whichever GLX swap-control extension it
// offers; false when it offers none. Needs the window's context current.
bool syncSwapsToDisplay();
