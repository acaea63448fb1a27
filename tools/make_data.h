// Making the sample data root VESTRALUME/: the text data kept in the
// repository (templates, first-run state, models, the URL directory) copied
// over, and every image written as JPEG: the selection texture and the model
// images painted here, and the placeholder images and the thumbnails of both
// channel lists made by the card maker (cards/cards.h), with their link
// files.
#pragma once

#include <map>
#include <string>

#include "dataroot/data_root.h"

// How many channels each list of the sample root holds: enough for every
// page that scrolling can reach from a page starting at 1, as delivered.
constexpr int sampleChannelCount = deliveredChannelCount;

enum MakeMode {
    makeFresh,    // refuse when the target already holds VESTRALUME
    makeReplace,  // replace an existing VESTRALUME entirely
    makeUpdate,   // rewrite the delivered files, keep the state files and list 2
};

// Writes <target>/VESTRALUME from the text data root `textRoot` (a folder
// laid out like VESTRALUME itself: n/, links.tsv). A new root is built in a
// staging folder beside the target and moved into place only when complete.
// On failure returns false with a message in plain words in `error`. Cards
// are cached in `cardCache` (empty: the user's cache folder, see
// defaultCardCacheFolder), so that a root made again copies them.
bool makeDataRoot(const std::string& target, const std::string& textRoot, MakeMode mode,
                  std::string& error, const std::string& cardCache = std::string());

// isStateFile: which files of the root are state (dataroot/root_files.h).
#include "dataroot/root_files.h"

// Reads the entries of a URL directory file the way the viewer reads them
// (readDirectoryLine), keeping also those whose address the viewer refuses
// to open; comments and malformed lines are skipped. A missing file gives
// an empty table.
std::map<int, std::string> readLinkTable(const std::string& path);

// A readable label for the channel behind an address: the channel, station or
// broadcaster name taken from its path or host, in capitals, words split.
std::string channelLabel(const std::string& address);

// The link number of channel n of the sample lists: 1 to 1290 in turn.
int sampleLinkNumber(int channel);
