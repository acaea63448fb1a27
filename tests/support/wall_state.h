// The state files a wall starts from in the tests that drive the keys, the
// navigation and find mode, written in one place.
#pragma once

#include <optional>
#include <string>

#include "state/catalogue.h"

struct WallState {
    int catalogueFirst = 1;                  // z1.txt: the page of 16 channels from this one
    int favouritesFirst = 1;                 // z2.txt
    int selectedTile = 1;                    // b.txt
    int direction = forwardDirection;        // nn.txt; 0 for none
    std::optional<int> launchCounter;        // h.txt, when given
    std::optional<int> favouritesCount;      // d.txt, when given
};

// Writes the state of `state` into VESTRALUME/n/ of the working directory,
// with both rotation counters at 1 and the wall scale 2.
void writeWallState(const WallState& state);

// A page file's text: the 16 channel numbers from `first` on.
std::string pageFrom(int first);
