#include "play/playback_hook.h"

#include "launch/live_pictures.h"

// While a channel plays in the window (a preview in its tile or watching),
// the live pictures' captures pause: many providers allow one connection
// per account, and the channel playing is the one that must keep it. The
// pause is taken once and given back once, however often the channel
// changes in between.
void onPlaybackChanged(bool playing, int) {
    static bool pausedForPlayback = false;
    if (playing == pausedForPlayback) return;
    pausedForPlayback = playing;
    setLivePicturesPaused(playing);
}
