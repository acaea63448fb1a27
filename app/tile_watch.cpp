#include "app/tile_watch.h"

#include <algorithm>

#include "assets/texture.h"
#include "dataroot/safe_file.h"
#include "platform/file_watch.h"
#include "scene/wall.h"
#include "state/catalogue.h"
#include "state/state_files.h"

namespace {

FileWatch thumbnailWatch;
// The list whose tiles are watched, and per tile the path and the texture
// serial the paths were read for.
int watchedList = 0;
std::string watchedPaths[17];
long watchedSerials[17] = {};

long serialOf(const Texture* texture) { return texture ? texture->serial : 0; }

// The tile path files are read again only when a tile's texture changed
// (a page build, the thumbnail refresh) or the list did.
void followTheWall(int list) {
    bool same = list == watchedList;
    for (int tile = 1; tile <= 16 && same; ++tile)
        same = watchedSerials[tile] == serialOf(tileTextures[list][tile]);
    if (same) return;
    watchedList = list;
    for (int tile = 1; tile <= 16; ++tile) {
        watchedPaths[tile] = readPath(tilePathFile(list, tile), narrowScan);
        watchedSerials[tile] = serialOf(tileTextures[list][tile]);
    }
    watchFiles(thumbnailWatch, watchedThumbnails(watchedPaths));
}

}  // namespace

std::vector<int> tilesShowing(const std::string (&paths)[17], const std::vector<std::string>& changed) {
    std::vector<int> tiles;
    for (int tile = 1; tile <= 16; ++tile)
        if (!paths[tile].empty() && std::find(changed.begin(), changed.end(), paths[tile]) != changed.end())
            tiles.push_back(tile);
    return tiles;
}

std::vector<std::string> watchedThumbnails(const std::string (&paths)[17]) {
    std::vector<std::string> files;
    for (int tile = 1; tile <= 16; ++tile)
        if (isDataRootPath(paths[tile]) && std::find(files.begin(), files.end(), paths[tile]) == files.end())
            files.push_back(paths[tile]);
    return files;
}

bool renewChangedTiles() {
    const int list = currentList;
    if (list != 1 && list != 2) return false;
    followTheWall(list);
    const std::vector<std::string> changed = changedFiles(thumbnailWatch);
    if (changed.empty()) return false;
    if (thumbnailWatch.reportsLost) {
        // Changes may have gone unreported: nothing kept off the wall is
        // trusted any more.
        const size_t budget = unheldTextureBudget;
        setUnheldTextureBudget(0);
        setUnheldTextureBudget(budget);
    }
    for (const std::string& path : changed) forgetTexturePath(path);
    const std::vector<int> tiles = tilesShowing(watchedPaths, changed);
    for (int tile : tiles) {
        Texture* previous = tileTextures[list][tile];
        tileTextures[list][tile] = loadTextureOrPlaceholder(watchedPaths[tile], tile);
        discardTexture(previous);
        watchedSerials[tile] = serialOf(tileTextures[list][tile]);
    }
    return !tiles.empty();
}

void endTileWatch() {
    endFileWatch(thumbnailWatch);
    watchedList = 0;
    for (int tile = 0; tile <= 16; ++tile) {
        watchedPaths[tile].clear();
        watchedSerials[tile] = 0;
    }
}
