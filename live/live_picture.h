// What the companion writes for a channel: its live picture with the
// channel's name strip, or its original card dimmed with "No signal" and
// the time of the last try; the original card kept beside, so it can always
// come back; and the channel's status.
#pragma once

#include <string>

#include "cards/cards_draw.h"
#include "live/live_capture.h"

// Pictures the companion writes carry this JPEG comment; a thumbnail
// without it is a card (written by an import or the card maker).
extern const char* const livePictureMark;

// Whether JPEG bytes carry the mark.
bool isLivePicture(const std::string& jpeg);

// The JPEG of `canvas` with the mark.
std::string markedJpeg(const CardCanvas& canvas);

// The captured picture with the channel's number and name on a dark strip
// along its bottom.
CardCanvas pictureWithName(const Capture& capture, const std::string& name, int number);

// The card dimmed, with "No signal" and the local time of the last try
// ("HH:MM") on it.
CardCanvas noSignalCard(const CardCanvas& card, long long lastTry);

// A card's JPEG bytes as a canvas of cardWidth x cardHeight; false when
// they are no picture.
bool decodeCard(const std::string& jpeg, CardCanvas& card);

// The host part of an address ("" when none).
std::string hostOf(const std::string& address);
