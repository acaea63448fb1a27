#include "play/playback_hook.h"

// Nothing else needs to know yet.
void onPlaybackChanged(bool, int) {}
