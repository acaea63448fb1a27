// The alternative addresses of the catalogue's channels:
// VESTRALUME/1/alternatives.tsv, in the catalogue's own folder (switched in
// with it). A channel the importer made of several playlist entries has a
// line "<channel>\t<its link number>\t<alternative link number>..." (tabs
// between, a line end after), the alternatives in playlist order; channels
// with one address have none, and a catalogue without any has no file, so a
// root that never merged entries never needs it. Opening an address of such
// a line (the channel's, or a favourite made of any of them) tries it first
// and the others of its line, in order, when it fails.
#pragma once

#include <string>
#include <vector>

// "VESTRALUME/1/alternatives.tsv"
extern const std::string alternativesFile;

// The most link numbers a line holds (the channel's own and its
// alternatives); the importer keeps the first ones.
constexpr size_t maxAlternativeLinks = 32;

struct AlternativeLine {
    int channel = 0;
    std::vector<int> links;  // the channel's own first; 2 to maxAlternativeLinks of them
};

std::string formatAlternatives(const std::vector<AlternativeLine>& lines);

// Reads the file's text; false with the reason (and the line number) for the
// first line that is not as above: numbers outside 1 to 99999999, fewer than
// two or more than maxAlternativeLinks links, a channel twice, a link twice
// in a line, channels out of ascending order.
bool parseAlternatives(const std::string& text, std::vector<AlternativeLine>& lines,
                       std::string& problem);

// The link numbers to try, in order, for opening `link`: `link` itself,
// then the others of the first line that holds it, in the line's order.
std::vector<int> linksToTry(const std::vector<AlternativeLine>& lines, int link);
