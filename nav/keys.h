// Keyboard and special-key callbacks, scrolling and page building.
#pragma once

void onKeyboard(unsigned char key, int x, int y);
void onSpecialKey(int key, int x, int y);

// What a special key does, without the hand-over to the GUI layer and the
// redisplay requests around it.
void applySpecialKey(int key);

// The thumbnail batch copy of F12: 1.jpg .. 2000.jpg in the working directory
// copied over 1.Quillon .. 2000.Quillon.
void copyThumbnailBatch();
