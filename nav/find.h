// Find mode: typing a channel's name. `/` or F3 opens it on the catalogue
// or the favourites; letters, digits and spaces typed then make a query, and
// after each key the wall shows the channels of that list whose names (or
// group, or number) match it, best first, as a list of its own (findList):
// its page file holds places in the list of matches, its tiles the found
// channels' own thumbnails, and every key and mouse action of the wall works
// on it. Backspace takes back the last character and, on an empty query,
// leaves; Esc leaves; both bring back the list, page and selected tile
// left. The query and the matches live in memory only: a restart shows the
// list left, whose files find mode never writes.
#pragma once

#include <optional>
#include <string>

#include "nav/found.h"

// Whether find mode is on.
bool findActive();

// Opens find mode on the list on the wall (the catalogue or the favourites),
// with an empty query and an empty wall. Does nothing when it is on.
void openFind();

// Leaves find mode: the list, page and selected tile from before it.
void leaveFind();

// A key of the keyboard while find mode is on: true when find mode took it
// (every key but Enter), false when it is off or the key is Enter.
bool onFindKey(unsigned char key);

// Sets the query and shows its matches, as typing it would.
void setFindQuery(const std::string& query);

// The query typed so far.
const std::string& findQuery();

// Changes whenever what find mode shows above the wall changes (on or off,
// query, matches), so the frame can tell it must be drawn again.
long findShown();

// The line find mode shows above the wall, ASCII: the query and how many
// channels match it.
std::string findBarText();
