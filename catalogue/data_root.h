// The data root VESTRALUME/: the names of its files, the numbers that shape
// the wall and the catalogue, and the catalogue's channel count. Shared by
// the viewer and every tool; nothing here touches OpenGL.
#pragma once

#include <optional>
#include <string>

// The data root and its state folder, relative to the working directory.
extern const std::string dataRoot;     // "VESTRALUME/"
extern const std::string stateFolder;  // "VESTRALUME/n/"

// "VESTRALUME/<list>/<channel>.Quillon"
std::string thumbnailPath(int list, int channel);
// "VESTRALUME/<list>/<channel>.txt"
std::string linkPath(int list, int channel);
// The list of the channels found by typing their names (nav/find.h): its
// page file holds places in the list of matches, 1 for the best.
constexpr int findList = 3;

// "VESTRALUME/n/z1.txt", "VESTRALUME/n/z2.txt" or, for the found channels,
// "VESTRALUME/n/z3.txt"
std::string pageFile(int list);
// "VESTRALUME/n/n<k>.txt" for list 1, "VESTRALUME/n/n<k>b.txt" for list 2,
// "VESTRALUME/n/n<k>c.txt" for the found channels
std::string tilePathFile(int list, int tile);
// "VESTRALUME/i/<k>.jpg"
std::string placeholderPath(int k);
// "VESTRALUME/n/<name>"
std::string stateFile(const std::string& name);
// "VESTRALUME/links.tsv"
extern const std::string urlDirectoryFile;

// The wall: 16 tiles in rows of four, the top three rows selectable. A
// scroll moves a page by one row.
constexpr int wallTiles = 16;
constexpr int selectableTiles = 12;
constexpr int pageStep = 4;

// The delivered catalogue and the favourites list hold 2004 channels; their
// last page starts at 1989 (channels 1989 to 2004, the last row not
// selectable).
constexpr int deliveredChannelCount = 2004;
constexpr int deliveredLastFirstChannel = 1989;

// Link numbers below this are reserved for the directory entries delivered
// with the program, so a newer package can deliver more of them; entries
// added by importing a playlist take numbers from here on.
constexpr int firstImportedLink = 10000;

// A catalogue imported from a playlist records its size in this file:
// "VESTRALUME/1/count.txt", one decimal number. It lives in the catalogue's
// own folder, so switching a new catalogue folder into place switches its
// count with it. A root without it holds the delivered catalogue.
extern const std::string channelCountFile;

// The largest channel count a catalogue may record.
constexpr int maxChannelCount = 10000000;

// The recorded channel count of the catalogue under `folder` (the folder
// holding VESTRALUME/; empty for the working directory): a decimal number
// from 1 to maxChannelCount, or none when the file is missing or holds
// anything else.
std::optional<int> readChannelCount(const std::string& folder = "");

// The last first channel number a page of `count` channels scrolls to, so
// that the last channel stands on a selectable row:
// 1 + 4 * ceil(max(0, count - 12) / 4).
int lastFirstChannelFor(int count);

// Where forward scrolling of `list` stops: lastFirstChannelFor the recorded
// count for an imported catalogue, deliveredLastFirstChannel otherwise.
int lastFirstChannel(int list, const std::optional<int>& recordedCount);

// Whether channel `channel` of `list` exists: in an imported catalogue, 1 to
// its count; everywhere else every number a page holds (the delivered lists
// have files for every number scrolling reaches).
bool channelExists(int list, int channel, const std::optional<int>& recordedCount);
