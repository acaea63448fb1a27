// Keyboard and special-key callbacks, scrolling and page building.
#pragma once

void onKeyboard(unsigned char key, int x, int y);
void onSpecialKey(int key, int x, int y);
