// The rules of playing inside the wall that need no player and no window:
// when the selected tile's preview is due, where a zap goes, and the words
// shown on screen. Times are milliseconds from any fixed start and are
// passed in, so the rules hold without a clock. No files, no OpenGL.
#pragma once

#include <string>

// How long the selection must rest on a tile before that tile plays.
constexpr long long previewRest = 700;

// How long a channel's number and name stay on screen after a switch.
constexpr long long captionDuration = 3000;

// Where the selection is: the list on the wall, which build of its page
// (every page build counts up) and the selected tile (0: none).
struct SelectionSpot {
    int list = 0;
    long pageBuild = 0;
    int tile = 0;
};

bool sameSpot(const SelectionSpot& a, const SelectionSpot& b);

// The selection as the preview follows it.
struct PreviewTimer {
    SelectionSpot spot;     // where the selection was last seen
    long long since = 0;    // when it came there
    bool seen = false;      // whether it was seen at all
    bool started = false;   // whether the preview of this spot was started
};

// The selection seen at `now`. True when it moved since the last look:
// a preview playing stops at once, and the rest starts again.
bool noteSelection(PreviewTimer& timer, const SelectionSpot& spot, long long now);

// Whether the preview of the spot the selection rests on is due at `now`:
// it has rested there for previewRest and no preview was started there yet.
bool previewDue(const PreviewTimer& timer, long long now);

// The channel `step` channels (+1 next, -1 previous) from `channel` in a
// list of `count` channels numbered from 1, going round at both ends as a
// TV does. 0 when the list is empty.
long long zapTarget(long long channel, int step, long long count);

// What a switch shows: the channel's number and its name.
std::string channelCaption(long long channel, const std::string& name);

// Why a channel stopped or never started, in the words shown on screen.
enum class PlaybackFault {
    none,
    unreachable,  // the address could not be opened (refused, no answer in time, not found)
    unplayable,   // it opened, but holds nothing that plays
    ended,        // it played, then stopped
    webPage,      // the channel is a web page, opened in the browser rather than here
};

// The line shown over the window when a channel cannot be watched (empty
// for PlaybackFault::none). Plain ASCII: the window's own font shows it.
std::string faultMessage(PlaybackFault fault, long long channel);

// The size of the picture a preview draws into its tile, in pixels: the
// size of a channel's card.
constexpr int previewWidth = 256;
constexpr int previewHeight = 128;

// How many channels a zap looks at, at most, for the next one that plays
// inside the window (web pages are passed over).
constexpr int zapSearchLimit = 64;
