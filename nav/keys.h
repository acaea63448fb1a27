// Keyboard and special-key callbacks, scrolling and page building, and the
// commands the mouse shares with the keys.
#pragma once

#include <string>

void onKeyboard(unsigned char key, int x, int y);
void onSpecialKey(int key, int x, int y);

// What Esc does once the key is handled: the program sets it (app/ ends the
// process there, all state already living in files). Nothing when unset.
extern void (*onQuit)();

// What a special key does, without the hand-over to the GUI layer and the
// redisplay requests around it.
void applySpecialKey(int key);

// The thumbnail batch copy of F12: 1.jpg .. 2000.jpg in the working directory
// copied over 1.Quillon .. 2000.Quillon.
void copyThumbnailBatch();

// Commands shared with the mouse, each working through the state files as
// the keys do.

// Makes a selectable tile (1 to 12) the selected one, as the arrow keys do;
// any other tile changes nothing.
void selectTile(int tile);

// Scrolls the current list one row forward or back, as Page Down and Page Up
// do.
void scrollOneRow(bool forward);

// Enter: a channel number being typed is gone to first; then the launch
// counter advances (the product's page opening on counts 1 and 10) and the
// selected channel opens.
void openChannel();

// The launch counter of Enter advances: 1..20 round, the product's page
// opening on counts 1 and 10.
void advanceLaunchCounter();

// Home and End: the first or the last page of the current list, the
// selection staying on its tile, in one build.
void goToListEnd(bool last);

// The page of the current list that shows `channel` on a selectable row,
// nearest to the page on the wall (no move when it already does), with that
// tile selected. A number outside the list changes nothing.
void goToChannel(long long channel);

// A digit typed as part of a channel number: the number is gone to once no
// further digit has come for typedNumberPause (nav/channel_number.h). Arms
// onTypedNumberPause for then and gives back the value the timer carries.
int typeChannelDigit(int digit);

// The number being typed is gone to now (finish) or dropped (forget); with
// no number being typed, nothing happens.
void finishTypedNumber();
void forgetTypedNumber();

// The timer that ends a typed number; `timer` names the digit that armed it,
// and a timer armed before a later digit does nothing.
void onTypedNumberPause(int timer);

// Whether `name` is one of the files the batch copy writes in the working
// directory: 1.Quillon .. 2000.Quillon, n.txt, p.txt and pp.txt.
bool isBatchCopyFile(const std::string& name);
