// The companion that keeps the wall's pictures current (quillon-live): which
// channels it captures in which order, and what it writes for each. It runs
// in the folder holding the data root, like every program of the root.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "live/live_capture.h"

// One channel of a list as the companion sees it.
struct LiveChannel {
    int list = 1;
    int channel = 0;
    std::string address;  // a media address
    std::string name;     // the second line of its link file
    std::string host;     // of the address, for one connection per host
    // The channel's other addresses (dataroot/alternatives_file.h), tried
    // in order when the address gives no picture.
    std::vector<std::string> alternatives;
};

// The picture of the first of the channel's addresses that gives one, the
// address first, then its alternatives in order; a failure of the last
// address tried when none does. Nothing more is tried once `limits.stop`
// is set. `capture` is captureFirstPicture outside the tests.
using CaptureAddress = Capture (*)(const std::string& address, const CaptureLimits& limits);
Capture captureFirstWorking(const LiveChannel& channel, const CaptureLimits& limits, CaptureAddress capture);

// The media entries of VESTRALUME/links.tsv by link number.
std::map<int, std::string> readMediaDirectory();

// Channel `channel` of `list` when it is a media channel: its link file
// names a media entry of the directory.
std::optional<LiveChannel> mediaChannel(int list, int channel, const std::map<int, std::string>& media);

// The channel numbers in the order they are captured for the page whose
// numbers are `page` (16, tile 1 first): the page itself, then the page
// before it and the page after it, each number once and at least 1.
std::vector<int> captureOrder(const std::vector<int>& page);

// Records the outcome of a capture of `channel` in the root, each file
// replaced in one step: first the original card is kept (when the thumbnail
// is a card, it is copied to VESTRALUME/live/), then the thumbnail is
// replaced by the picture with the name strip or by the "No signal" card,
// then the status is written. A kill at any moment leaves every file whole
// and the original card kept. False with a reason when a file could not be
// written.
bool recordCapture(const LiveChannel& channel, const Capture& capture, long long now, std::string& problem);

// Removes the temporary files killed companions left in the folders it
// writes.
void removeStaleLiveFiles();
