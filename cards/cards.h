// Channel cards: the thumbnail of an imported (or sample) channel, a
// power-of-two JPEG showing the channel's logo scaled to fit with its aspect
// kept, and its name and number set in real type. Logos are fetched over
// http(s) or read from a local path or file: address, kept in a cache, and
// cards are remade only when their logo, name or number changed.
//
// This is the tools' side of the data root: it uses image, text and network
// libraries that the viewer itself does not link.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "dataroot/data_root.h"

// The size of a card: the thumbnails' size, a power of two each way.
constexpr int cardWidth = thumbnailWidth;
constexpr int cardHeight = thumbnailHeight;

// What a card shows from the programme guide: the programme on now with its
// times and how far it has run, and the next one. A card without it is the
// logo or name card.
struct CardProgramme {
    bool shown = false;
    std::string title;      // on now; UTF-8, any script
    std::string times;      // its start and end, "19:00–20:00"
    double progress = 0;    // how much of it has run, 0 to 1
    std::string nextTitle;  // may be empty
    std::string nextTime;   // when the next starts, "20:00"
};

struct CardRequest {
    std::string name;    // UTF-8, any script
    int number = 0;      // the channel number shown on the card
    std::string logo;    // http(s) address, local path (relative: from the current
                         // folder) or file: address; empty for none
    std::string output;  // where the card's JPEG goes
    // The background of the name card (no logo) as 0xRRGGBB; negative: the
    // channel's own colour, picked from its number. Cards with a logo sit on
    // a light or dark plate chosen to set the logo off.
    int background = -1;
    // The programme lines; cards showing them are not kept in the card cache
    // (they change every few minutes).
    CardProgramme programme{};
};

enum LogoOutcome {
    logoNone,     // the channel has no logo: a name card
    logoFetched,  // fetched (or read) and drawn
    logoCached,   // taken from the cache without asking the server
    logoFailed,   // could not be fetched or decoded: a name card
};

struct CardResult {
    bool written = false;         // the card's file was written
    bool remade = false;          // the card was drawn now, not taken from the card cache
    LogoOutcome logo = logoNone;
    std::string problem;          // why the logo failed or the card was not written
    // The card cache held a damaged entry for this card (a link, a FIFO, a
    // cut or altered JPEG): the card was made again; cacheProblem says what
    // was wrong.
    bool cacheDamaged = false;
    std::string cacheProblem;
};

struct CardOptions {
    // Where logos and made cards are cached; empty for
    // ${XDG_CACHE_HOME:-~/.cache}/quillon.
    std::string cacheFolder;
    // Logos fetched at the same time.
    int parallelFetches = 8;
    // Whether logos may be fetched at all (false: cached logos and name cards only).
    bool network = true;
    // Seconds allowed to connect to a logo's server, and for the whole fetch.
    double connectTimeout = 5;
    double fetchTimeout = 20;
    // For how long a fetched logo is used without asking its server again;
    // after that it is revalidated (ETag, Last-Modified). A logo that could
    // not be fetched is not asked for again within failureFreshSeconds.
    long long logoFreshSeconds = 24 * 3600;
    long long failureFreshSeconds = 3600;
    // Cards drawn at the same time; 0: one per processor.
    int drawingThreads = 0;
};

// What the card maker has done so far, for a progress display.
struct CardProgress {
    size_t done = 0, total = 0;
    size_t fetched = 0, cached = 0, failed = 0, made = 0;
    size_t damaged = 0;  // damaged card cache entries made again
};

// Makes every card of `cardRequests`, in any order and in parallel as it sees fit;
// the result at index i belongs to cardRequests[i]. Never throws; a card that cannot
// be written is reported in its result. `progress` (may be empty) is called
// from the calling thread now and then.
std::vector<CardResult> makeCards(const std::vector<CardRequest>& cardRequests, const CardOptions& options,
                                  const std::function<void(const CardProgress&)>& progress = {});

// A digest of every card of `cardRequests` (their outputs aside) as makeCards would
// make them now, told from the caches alone without reading, fetching or
// drawing a single logo: equal digests mean equal cards. Empty when that
// cannot be told so: a logo in a local file, or one its server would be
// asked for.
// `newestEntryChange` (may be null) gets the newest change time of the card
// cache entries of these cards (see cachedCardChangeTime); a cache entry that
// is not a regular file makes the digest empty.
std::string cardsDigestFromCache(const std::vector<CardRequest>& cardRequests, const CardOptions& options,
                                 long long* newestEntryChange = nullptr);

// The folder logos and cards are cached in when CardOptions::cacheFolder is
// empty: ${XDG_CACHE_HOME:-~/.cache}/quillon.
std::string defaultCardCacheFolder();

// How many characters of `name` no installed font can show (they are left
// out of its card rather than drawn as boxes): 0 for every script once the
// fonts the cards are set in are installed.
int missingGlyphs(const std::string& name);
