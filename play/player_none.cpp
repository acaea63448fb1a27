// Builds without libmpv (Windows): no player inside the window; Enter hands
// media channels to the system as before.
#include "play/player.h"

bool playerAvailable() { return false; }
bool playAddress(const std::string&, bool) { return false; }
void setPlayerSound(bool) {}
void stopPlayer() {}
bool playerPlaying() { return false; }
void showPlayerText(const std::string&, long long) {}
PlayerNews takePlayerNews() { return {}; }
int drawPlayerIntoTexture(int, int) { return 0; }
void drawPlayerIntoWindow(int, int) {}
void endPlayer() {}
