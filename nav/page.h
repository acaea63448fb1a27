// Building a page of the wall, and scrolling.
#pragma once

#include <vector>

// How many times a page was built since start-up: what the wall shows may
// have changed whenever it counts up.
extern long pageBuilds;

// Fills the wall of `list` (1 or 2) with the page in its page file. The
// current list must equal `list`.
void buildPage(int list);

// Where forward scrolling of `list` stops: the last first channel number of
// the catalogue or the favourites (dataroot/data_root.h), and for the found
// channels the place that brings the last of them onto a selectable row.
int lastFirstOfList(int list);

// Shifts the current list's page file by one row in the direction held in
// VESTRALUME/n/nn.txt and rebuilds the page.
void scrollPage();

// Moves `page`, the current list's page as read from its page file, by
// `shift` channel numbers (a non-zero multiple of a row, 4), writes it back
// and rebuilds the page once: where that many scrolls in one direction would
// have left it. The scroll direction file is set to that direction first.
// False when nothing moved (numbers that would leave the range of numbers).
bool movePage(const std::vector<int>& page, long long shift);
