// The guide index: the programmes of every guide of a catalogue within a
// window around the time it was built (by default 14 h back to 60 h ahead:
// the 2 h back and 48 h ahead that are shown, widened by the 12 h a tvg-shift
// may move them), in an SQLite file in the cache. SQLite keeps the index on
// disk with an index on (channel, stop), so memory stays small however large
// the guide, and "now and next" for a page of channels is a few indexed
// look-ups. A new index is built beside the old one and renamed over it only
// when every guide read completely (or there was none before), so a broken
// guide never loses the previous one.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "guide/guide.h"

// How a catalogue channel is found in the guide: by tvg-id first, else by its
// name against the guide's display names (both normalised), with its
// tvg-shift in seconds.
struct GuideChannelKey {
    std::string tvgId;
    std::string name;
    long long shift = 0;
};

struct GuideSlot {
    long long start = 0, stop = 0;  // seconds since the epoch, shift applied
    std::string title;
};

struct NowNext {
    bool matched = false;  // the channel is in the guide
    bool haveNow = false, haveNext = false;
    GuideSlot now, next;
};

struct GuideBuildOptions {
    long long now = 0;  // the time the window is placed around
    long long backSeconds = 14 * 3600;
    long long aheadSeconds = 60 * 3600;
    GuideLimits limits;
};

struct GuideBuildResult {
    bool written = false;      // the new index is in place
    std::string error;         // why not, in plain words
    size_t channels = 0;       // channels the guides declared
    size_t programmes = 0;     // programmes kept (inside the window)
    unsigned long long read = 0;  // programmes read
};

// Reads every guide file of `files` into a new index at `indexPath`. Each
// problem of a file is passed to `problem` (may be empty) with the file's
// place in `files`.
GuideBuildResult buildGuideIndex(
    const std::string& indexPath, const std::vector<std::string>& files,
    const GuideBuildOptions& options,
    const std::function<void(size_t file, const GuideProblem&)>& problem = {});

// An open index; close by letting go of the pointer.
struct GuideIndex;
struct GuideIndexCloser {
    void operator()(GuideIndex* index) const;
};
using GuideIndexHandle = std::unique_ptr<GuideIndex, GuideIndexCloser>;

// Opens the index at `path` for reading; empty with the reason in `error`.
GuideIndexHandle openGuideIndex(const std::string& path, std::string& error);

// When the open index was built (seconds since the epoch).
long long guideIndexBuiltAt(GuideIndex& index);

// The programme on now and the next one at time `now` for each channel of
// `channels` (the result at i belongs to channels[i]).
std::vector<NowNext> guideNowNext(GuideIndex& index, const std::vector<GuideChannelKey>& channels,
                                  long long now);
