// A data root's programme guide: which guides its catalogue was imported
// with and how each channel is found in them (VESTRALUME/guide.tsv, written
// by the importer), where the guides and their index are cached, bringing
// them up to date, and what a channel's card shows from them.
//
// VESTRALUME/guide.tsv, tab-separated, UTF-8:
//   quillon guide 1
//   refresh <hours>
//   source  <http(s) address or absolute path>        (one line per guide)
//   channel <number> <tvg-id> <shift seconds> <logo> <name>  (every catalogue channel)
// A root without the file has no guide, and everything is as it was.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "cards/cards.h"
#include "guide/guide_index.h"
#include "import/playlist.h"

constexpr const char* guideSetupFile = "guide.tsv";

// The largest guide.tsv read.
constexpr size_t maxGuideSetupBytes = 64u << 20;

struct GuideChannelEntry {
    int number = 0;
    GuideChannelKey key;
    std::string logo;
};

struct GuideSetup {
    double refreshHours = 12;
    std::vector<std::string> sources;
    std::vector<GuideChannelEntry> channels;  // in catalogue order
};

// The setup for a catalogue made of `entries` (channel i + 1 is entries[i]).
GuideSetup guideSetupFor(const std::vector<PlaylistEntry>& entries,
                         const std::vector<std::string>& sources, double refreshHours);

std::string formatGuideSetup(const GuideSetup& setup);
// False with the reason when `text` is not a guide setup.
bool parseGuideSetup(const std::string& text, GuideSetup& setup, std::string& error);

// Writes <folder>/VESTRALUME/guide.tsv (through a file renamed over it), or
// removes it when `setup` names no guide.
bool writeGuideSetup(const std::string& folder, const GuideSetup& setup, std::string& error);

// Reads <folder>/VESTRALUME/guide.tsv; false when there is none or it
// cannot be read (the reason in `error`, empty when there is none).
bool readGuideSetup(const std::string& folder, GuideSetup& setup, std::string& error);

// Where the guides of the root in <folder> are cached (downloads and the
// index): <cache>/guides.
std::string guideCacheFolder(const std::string& cacheFolder);
// The index of the root in <folder>: one per data root.
std::string guideIndexPath(const std::string& cacheFolder, const std::string& folder);

struct GuideFetchOptions {
    double connectSeconds = 10;
    double totalSeconds = 600;
    unsigned long long maxBytes = 1ull << 30;
};

// A guide made ready to read.
struct GuideFile {
    bool ready = false;      // `path` can be read (perhaps an older copy: see error)
    bool fetched = false;    // downloaded now
    bool notModified = false;  // the server said the copy is current
    std::string path;
    std::string error;       // why it could not be fetched now
};

// A server's guide is downloaded into `folder` with a conditional request
// (the ETag and Last-Modified it sent before), a local file is used where it
// is. When a download fails, the copy fetched before is used.
GuideFile fetchGuide(const std::string& source, const std::string& folder,
                     const GuideFetchOptions& options = GuideFetchOptions());

struct GuideRefresh {
    bool indexWritten = false;
    GuideBuildResult build;
    std::vector<std::string> messages;  // one line each, capped
};

// Fetches every guide of `setup` and builds the root's index anew.
GuideRefresh refreshGuide(const std::string& folder, const std::string& cacheFolder,
                          const GuideSetup& setup, long long now);

// What a card shows of `answer` at `now`, the times in the local time zone.
CardProgramme cardProgrammeFor(const NowNext& answer, long long now);

// "19:05" in the local time zone.
std::string clockTime(long long seconds);

// The command-line view: one line per channel, "number\tname\tnow title\t
// start\tend\tnext title", tab-separated (tabs in titles become spaces).
std::vector<std::string> nowNextLines(const GuideSetup& setup, GuideIndex& index, long long now);

// The card file of catalogue channel `number` of the root in <folder>.
std::string catalogueCardPath(const std::string& folder, int number);

// What the card of each channel of `channels` (places in setup.channels)
// should show at `now`; a channel the guide has nothing for gets a card
// without programme lines.
std::vector<CardRequest> guideCardRequests(const std::string& folder, const GuideSetup& setup,
                                           GuideIndex& index, const std::vector<size_t>& channels,
                                           long long now);

struct GuideRenewal {
    GuideRefresh refresh;
    size_t cardsShowing = 0;  // cards that now show programme lines
};

// Fetches and indexes the guides of `setup` and renews the card of every
// channel the guide has a programme for (after an import, or by hand).
GuideRenewal refreshGuideAndCards(const std::string& folder, const std::string& cacheFolder,
                                  const GuideSetup& setup, long long now,
                                  const CardOptions& options);

// The command-line view of the root in <folder> at `now`; false with the
// reason when the root has no guide or it has not been read yet.
bool nowNextReport(const std::string& folder, const std::string& cacheFolder, long long now,
                   std::vector<std::string>& lines, std::string& error);
