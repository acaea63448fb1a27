// Playing inside the window: the selected tile's silent preview once the
// selection rests on a media channel, and watching a channel over the whole
// window with sound, zapping through the list with the wall's page and
// selection following through the state files.
#pragma once

#include "play/watch_rules.h"

// Whether the window shows a channel being watched instead of the wall.
bool watching();

// The window's keyboard and special-key callbacks: while watching, the
// watching keys; on the wall, Enter plays a media channel in the window,
// Shift+Enter hands it to an outside player, and every other key does what
// it always did.
void onPlayKeyboard(unsigned char key, int x, int y);
void onPlaySpecialKey(int key, int x, int y);

// Enter and a double-click on the wall: a media channel is watched in the
// window (the launch counter advancing as always); anything else, and every
// channel where there is no player inside the window, opens as it always
// did (openChannel).
void openChannelHere();

// Looked at by the timer with the selection as the wall shows it now:
// starts and stops the preview, follows a selection that changed while
// watching, collects the player's news. True when a frame is due.
bool pollPlayback(const SelectionSpot& spot);

// Before the wall is drawn: the preview's picture into its tile.
void preparePlayingTile();

// Draws the channel being watched over the window, with the message of a
// channel that cannot be watched.
void drawWatching(int width, int height);

// The window is about to close or the program to end: the player ends while
// the window's graphics context is still current.
void onPlayerWindowClose();
