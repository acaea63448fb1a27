// Cards still to be made: a catalogue switched in before its cards were all
// drawn carries, in its own folder, the list of what every channel's card
// shows (`.cards`) and a log of the cards made since (`.made`). Both go when
// the last card is made, so a catalogue without them is complete. They live
// in the catalogue folder and are switched in and out with it, so a card
// list never belongs to another catalogue. Shared by the importer, the
// background card maker, the checker and the viewer (which only asks
// whether cards are pending); nothing here draws or touches OpenGL.
#pragma once

#include <optional>
#include <string>
#include <vector>

// The two files' names inside a catalogue folder.
extern const char pendingCardListName[];  // ".cards"
extern const char madeCardLogName[];      // ".made"

// The largest card list read: 16 KiB a channel would be absurd; 64 MiB holds
// millions of logo addresses.
constexpr size_t maxCardListBytes = size_t(64) << 20;

// A card list: the logo address of channel i + 1 at index i (empty: none).
// The text is a heading line with the channel count, then one line a channel.
std::string formatCardList(const std::vector<std::string>& logos);
// False when the text is not a whole card list (heading, count, every line).
bool parseCardList(const std::string& text, std::vector<std::string>& logos);

// The made log: one channel number a line, appended as cards are made. A
// line without its line end (a write cut short) counts for nothing.
std::string madeLogLine(int channel);
std::vector<bool> parseMadeLog(const std::string& text, int channels);

// How the cards of a catalogue folder stand.
struct PendingCards {
    bool listed = false;               // the folder has a card list: cards may be pending
    std::vector<std::string> logos;    // from the card list
    std::vector<bool> made;            // made[i]: channel i + 1's card is made
    size_t pending = 0;                // channels whose card is not made yet
    std::string problem;               // why the list or log cannot be read (listed stays true)
};

// Reads the card list and made log of the catalogue folder `folder` (a path
// to VESTRALUME/1 or a staging folder) through the safe reader.
PendingCards readPendingCards(const std::string& folder);

// Whether the catalogue folder has a card list at all: one look, no reading.
bool hasPendingCards(const std::string& folder);
