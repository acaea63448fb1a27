// Checking a data root: every file the program needs at start-up and while
// scrolling, each state file's value, the model files, and the URL directory.
// Reads files only; no graphics.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "dataroot/data_root.h"

// Every problem of the data root <folder>/VESTRALUME, one sentence in plain
// words each; empty when the root is sound.
std::vector<std::string> checkDataRoot(const std::string& folder);

// How many cards of the catalogue of <folder>/VESTRALUME are still to be
// made by the background card maker (0 when its cards are complete). A
// catalogue whose cards are being made is sound; the checker names them.
size_t pendingCardCount(const std::string& folder);

// Every problem of the URL directory file. The delivered web pages: numbering
// (1 to 1290, each once), addresses (https only, printable ASCII, at most 100
// characters) and addresses shared other than by the ten pairs of link
// numbers that open the same page. The media addresses imported from
// playlists after them: numbers past 1290, each once, addresses the program
// opens, no address under two numbers. And the line format. `name` is how
// messages call the file. `links` (may be null) receives every link number
// the file gives an entry.
std::vector<std::string> checkLinkTable(const std::string& path, const std::string& name,
                                        std::set<int>* links = nullptr);

// The channel numbers a page can show, itself included, when it is scrolled
// forward (while its first number is below `lastFirst`) and back (while it is
// above 1) as far as scrolling allows; sorted, each once. Empty when the page
// has no numbers, or when scrolling from it would pass more than `limit`
// numbers (a page far outside any catalogue).
std::vector<long long> reachableChannels(const std::vector<int>& page,
                                         int lastFirst = deliveredLastFirstChannel,
                                         size_t limit = 1000000);

// "1 to 16, 20, 2001 to 2004": sorted numbers as ranges, at most `maxRanges`
// of them and then "and N more".
std::string describeNumbers(const std::vector<long long>& numbers, size_t maxRanges = 12);
