// The player inside the window: one libmpv instance that plays one channel
// at a time, either silently into the selected tile (the preview) or with
// sound over the whole window (watching). Only where the build has libmpv
// (not on Windows); elsewhere every call reports that no player is there
// and Enter hands channels to an outside player.
#pragma once

#include <string>

#include "play/watch_rules.h"

// Whether channels can play inside the window: the build has the player and
// it could be started (it is started on the first call).
bool playerAvailable();

// Starts playing `address` (a media address of the URL directory), replacing
// whatever plays; with sound or without. False when no player is there.
bool playAddress(const std::string& address, bool withSound);

// Turns the sound of what plays on or off.
void setPlayerSound(bool on);

// Stops playing: the stream's connections close.
void stopPlayer();

// Whether an address is being played (from playAddress until stopPlayer or
// a fault).
bool playerPlaying();

// Shows `text` (any script) over the picture for `milliseconds`.
void showPlayerText(const std::string& text, long long milliseconds);

// What happened since the last call, as the timer collects it: whether a
// new picture waits to be drawn, and the fault that ended playback, if one
// did. Never waits.
struct PlayerNews {
    bool newPicture = false;
    PlaybackFault fault = PlaybackFault::none;
};
PlayerNews takePlayerNews();

// Draws the current picture into a texture of width x height (the tile's
// picture) and gives its OpenGL name; 0 when there is none. Every piece of
// graphics state the player touches is put back as it was.
int drawPlayerIntoTexture(int width, int height);

// Draws the current picture (and the text shown) over the whole window of
// width x height, the graphics state put back afterwards.
void drawPlayerIntoWindow(int width, int height);

// Ends the player for good. Needs the window's graphics context current (its
// drawing resources are freed in it): called before the window goes.
void endPlayer();
