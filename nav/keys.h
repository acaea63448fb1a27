// The keyboard and special-key callbacks: tables that bind each key to its
// command (nav/commands.h).
#pragma once

void onKeyboard(unsigned char key, int x, int y);
void onSpecialKey(int key, int x, int y);

// What Esc does once the key is handled: the program sets it (app/ ends the
// process there, all state already living in files). Nothing when unset.
extern void (*onQuit)();

// What a special key does, without the hand-over to the GUI layer and the
// redisplay requests around it.
void applySpecialKey(int key);
