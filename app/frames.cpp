#include "app/frames.h"

#include <cstring>

#include "app/shell.h"
#include "assets/texture.h"
#include "scene/wall.h"
#include "state/catalogue.h"
#include "state/state_files.h"

namespace {

long serialOf(const Texture* texture) { return texture ? texture->serial : 0; }

// Floats compare by their bits: a NaN read from a file is then the same
// picture as the NaN before it, and never a reason for endless frames.
bool sameFloat(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

bool sameFloat(const std::optional<float>& a, const std::optional<float>& b) {
    return a.has_value() == b.has_value() && (!a || sameFloat(*a, *b));
}

}  // namespace

FrameState currentFrameState() {
    FrameState state;
    state.list = currentList;
    state.selectedTile = readInt(stateFile("b.txt"));
    state.wallScale = readFloat(stateFile("u.txt"));
    if (currentList == 1 || currentList == 2) {
        for (int tile = 1; tile <= 16; ++tile) {
            state.tiles[tile] = serialOf(tileTextures[currentList][tile]);
            state.refreshRunning = state.refreshRunning || thumbnailRefresh[currentList][tile];
        }
    }
    state.selection = serialOf(selectionTexture);
    state.lit = framesDrawn == 0;
    state.cameraPitch = cameraPitch;
    state.cameraYaw = cameraYaw;
    state.aspectRatio = aspectRatio;
    return state;
}

bool samePicture(const FrameState& a, const FrameState& b) {
    if (a.list != b.list || a.selectedTile != b.selectedTile || !sameFloat(a.wallScale, b.wallScale))
        return false;
    for (int tile = 1; tile <= 16; ++tile)
        if (a.tiles[tile] != b.tiles[tile]) return false;
    return a.selection == b.selection && a.lit == b.lit && sameFloat(a.cameraPitch, b.cameraPitch) &&
           sameFloat(a.cameraYaw, b.cameraYaw) && sameFloat(a.aspectRatio, b.aspectRatio);
}

bool frameDue(const FrameState* lastDrawn, const FrameState& now) {
    return !lastDrawn || now.refreshRunning || !samePicture(*lastDrawn, now);
}

bool hasExtension(const char* extensions, const char* name) {
    if (!extensions || !name || !*name) return false;
    const size_t length = std::strlen(name);
    for (const char* at = std::strstr(extensions, name); at; at = std::strstr(at + 1, name)) {
        const bool starts = at == extensions || at[-1] == ' ';
        const bool ends = at[length] == ' ' || at[length] == '\0';
        if (starts && ends) return true;
    }
    return false;
}
