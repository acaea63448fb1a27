// The background card maker: makes the cards a catalogue was switched in
// without (see dataroot/pending_cards.h), those of the page on the wall and
// the pages beside it first, then the rest in channel order. Logos are
// fetched in the same order, with the card maker's limits and cache.
//
// It works on the catalogue folder it found when it started, through an
// open handle: when a newer import switches another catalogue in, it writes
// nothing into the new one and stops. It never takes the lock that keeps
// the viewer out of the root; one maker at a time works on a root, through
// a lock of its own on the state folder (VESTRALUME/n). Every card is written to
// a temporary file beside it and renamed over, and logged as made after, so
// a kill at any moment leaves a sound catalogue whose missing cards the next
// run makes.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "cards/cards.h"

struct PendingCardOptions {
    CardOptions cards;
    // Cards of the catalogue's page (VESTRALUME/n/z1.txt) and the pages
    // beside it first, looked at again between batches.
    bool followWall = true;
    // Waits for a maker already working on the root to end, instead of
    // leaving the work to it.
    bool waitForOtherMaker = true;
    // Called after every batch with what this run did so far (may be empty).
    std::function<void(const CardProgress&)> progress;
};

struct PendingCardResult {
    bool complete = false;   // no card is pending any more (or none was)
    bool replaced = false;   // a newer catalogue was switched in: stopped
    bool busy = false;       // another maker works on the root (waitForOtherMaker false)
    size_t pending = 0;      // cards still to be made when it stopped
    CardProgress cards;      // what this run did
    std::string error;       // why it stopped early, in plain words
};

// Takes the card makers' lock of the root <folder>/VESTRALUME, waiting up to
// `waitMilliseconds` for a maker at work to stop. Returns a descriptor to
// give to unlockCardMakers, or -1 when the lock was not taken.
int lockCardMakers(const std::string& folder, int waitMilliseconds);
void unlockCardMakers(int lock);

// Makes the pending cards of the catalogue of <folder>/VESTRALUME.
PendingCardResult makePendingCards(const std::string& folder, const PendingCardOptions& options);

// The order cards are made in, as a pure rule: up to `most` channels of
// 1..made.size() whose card is not made, those of the page starting at
// `pageFirst` first, then the next page, the page before, the first and the
// last page, then the rest from channel 1 on.
std::vector<int> nextCardsToMake(const std::vector<bool>& made, int pageFirst, size_t most);

// Whether channel `channel` lies on the page starting at `pageFirst` or on
// the pages next to it: the cards whose tiles may be on the wall now.
bool nearTheWall(int channel, int pageFirst);
