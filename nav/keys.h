// Keyboard and special-key callbacks, scrolling and page building.
#pragma once

#include <string>

void onKeyboard(unsigned char key, int x, int y);
void onSpecialKey(int key, int x, int y);

// What a special key does, without the hand-over to the GUI layer and the
// redisplay requests around it.
void applySpecialKey(int key);

// The thumbnail batch copy of F12: 1.jpg .. 2000.jpg in the working directory
// copied over 1.Quillon .. 2000.Quillon.
void copyThumbnailBatch();

// Whether `name` is one of the files the batch copy writes in the working
// directory: 1.Quillon .. 2000.Quillon, n.txt, p.txt and pp.txt.
bool isBatchCopyFile(const std::string& name);
