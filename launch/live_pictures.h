// Live pictures on the wall: the viewer's side of the companion
// (quillon-live) that keeps the pictures of media channels current. The
// viewer starts it when the root has media channels and live pictures are
// on (VESTRALUME/live.txt, key L), tells it which list is on the wall and
// when to pause, restarts it with a growing delay when it ends by itself
// (it parses untrusted network data and may crash), and ends it when it
// ends. Nothing is captured while a player Quillon started is playing.
#pragma once

#include <string>

// One more reason to pause captures (paused true), or one fewer (false).
// Captures run only while no reason is left; a capture running when the
// first reason comes is given up at once. For in-window playback, and for
// anything else that must not share the network with captures.
void setLivePicturesPaused(bool paused);

// The address of the channel being played inside the window (a preview),
// which is never captured; empty for none.
void setLivePicturesPlaying(const std::string& address);

// Key L: switches live pictures off when they are on and on when they are
// off, in VESTRALUME/live.txt; the companion starts or ends within a timer
// tick.
void switchLivePictures();

// Between frames: starts the companion when it should run and does not,
// ends it when it should not run, and tells it what changed. `now` is a
// steady clock in milliseconds.
void tendLivePictures(long long nowMilliseconds);

// Ends the companion (the viewer ends, or tests).
void endLivePictures();

// How long to wait before starting the companion again after it ended by
// itself `endsInARow` times in a row (1 for the first): one second,
// doubling each time, at most a minute.
long long restartDelayMilliseconds(int endsInARow);

// Whether the text of links.tsv has a media entry.
bool hasMediaEntries(const std::string& directoryText);
