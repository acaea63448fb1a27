// The one place told whenever playback inside the window starts, changes
// channel or stops (the selected tile's preview and watching alike), so
// that other work sharing the network with it (captures of media channels)
// can hold back while a channel plays.
#pragma once

// `playing` is whether a channel plays now; `linkNumber` is its link number
// in the URL directory (0 when nothing plays).
void onPlaybackChanged(bool playing, int linkNumber);
