#include "nav/page.h"

#include <climits>
#include <string>
#include <vector>

#include "assets/texture.h"
#include "nav/found.h"
#include "scene/wall.h"
#include "state/catalogue.h"
#include "state/state_files.h"

namespace {

// Rotation: every build advances one of two counters that walk through the
// 16 tiles (1c.txt after a backward scroll, 2c.txt after a forward one,
// shared by both lists) and discards that tile's texture, so its thumbnail
// is decoded afresh from disk.
void rotateOneTile(int list, int direction) {
    std::string counterFile;
    if (direction == backwardDirection)
        counterFile = stateFile(StateFile::backwardRotation);
    else if (direction == forwardDirection)
        counterFile = stateFile(StateFile::forwardRotation);
    else
        return;
    std::optional<int> counter = readInt(counterFile);
    if (!counter || *counter < 1 || *counter > 16) {
        setFromTemplate(1, counterFile);
        return;
    }
    const int tile = *counter;
    discardTexture(tileTextures[list][tile]);
    tileTextures[list][tile] = loadTextureOrPlaceholder(placeholderPath(tile), tile);
    setFromTemplate(tile == 16 ? 1 : tile + 1, counterFile);
    // After a full round of forward builds the catalogue reloads all its tiles.
    if (list == 1 && direction == 1 && tile == 16) thumbnailRefresh[1][1] = true;
}

// The thumbnail a tile of `list` shows for the number `channel` of its page
// file: a found channel's own thumbnail in the list it was found in; the
// tile's placeholder past the end of a list.
std::string tileThumbnail(int list, int channel, int tile, const std::optional<int>& count) {
    if (list == findList) {
        const std::optional<int> found = foundChannel(channel);
        return found ? thumbnailPath(findSourceList(), *found) : placeholderPath(tile);
    }
    return channelExists(list, channel, count) ? thumbnailPath(list, channel) : placeholderPath(tile);
}

}  // namespace

long pageBuilds = 0;

int lastFirstOfList(int list) {
    if (list == findList) return lastFirstChannelFor(foundCount());
    return lastFirstChannel(list, readChannelCount());
}

void buildPage(int list) {
    if (list != catalogueList && list != favouritesList && list != findList) return;
    ++pageBuilds;
    std::optional<int> direction = readInt(stateFile(StateFile::scrollDirection));
    // A page file that is missing or short leaves the wall and every file as
    // they are: nothing undefined is ever written into a tile path file.
    std::optional<std::vector<int>> page = readIntList(pageFile(list), 16);
    if (!page) return;

    // Tiles past the end of an imported catalogue show their placeholder.
    const std::optional<int> count = readChannelCount();
    for (int tile = 1; tile <= 16; ++tile) {
        writeText(tilePathFile(list, tile), tileThumbnail(list, (*page)[tile - 1], tile, count));
        if (list == findList) blankTiles[list][tile] = !foundChannel((*page)[tile - 1]);
    }

    rotateOneTile(list, direction ? *direction : 0);

    std::string paths[17];
    for (int tile = 1; tile <= 16; ++tile) paths[tile] = readPath(tilePathFile(list, tile), narrowScan);

    // The texture a tile held before stays registered, so a later build that
    // shows the same channel again finds it without reading the file. The
    // new texture is taken first, so a tile that keeps its thumbnail is not
    // decoded again.
    for (int tile = 1; tile <= 16; ++tile) {
        Texture* previous = tileTextures[list][tile];
        tileTextures[list][tile] = loadTextureOrPlaceholder(paths[tile], tile);
        releaseTexture(previous);
    }

    // The favourites' thumbnails change on disk (adding and removing
    // favourites), so every build of that list, or of favourites found by
    // name, reloads them, one per frame.
    if (list == 2 || (list == findList && findSourceList() == 2)) thumbnailRefresh[list][1] = true;
}

namespace {

// `page` with every number moved by `shift`; none when a number would leave
// the range of numbers.
std::optional<std::vector<int>> movedPage(std::vector<int> page, long long shift) {
    for (int& number : page) {
        const long long moved = number + shift;
        if (moved > INT_MAX || moved < INT_MIN) return std::nullopt;
        number = static_cast<int>(moved);
    }
    return page;
}

}  // namespace

void scrollPage() {
    std::optional<int> direction = readInt(stateFile(StateFile::scrollDirection));
    const int list = currentList;
    if (list != catalogueList && list != favouritesList && list != findList) return;
    if (!direction || (*direction != forwardDirection && *direction != backwardDirection)) return;
    std::optional<std::vector<int>> page = readIntList(pageFile(list), 16);
    if (!page) return;
    const bool forward = *direction == forwardDirection;
    // The first page starts at 1; the last at 1989 for the delivered lists
    // (channels 1989 to 2004), and for an imported catalogue where its last
    // channel stands on a selectable row; for the found channels where the
    // last of them does.
    const int last = lastFirstOfList(list);
    if (forward ? (*page)[0] >= last : (*page)[0] <= 1) return;
    const std::optional<std::vector<int>> moved = movedPage(*page, forward ? pageStep : -pageStep);
    if (!moved) return;
    writeText(pageFile(list), formatIntList(*moved));
    buildPage(list);
}

bool movePage(const std::vector<int>& page, long long shift) {
    const int list = currentList;
    if (list != catalogueList && list != favouritesList && list != findList) return false;
    if (shift == 0 || shift % pageStep != 0) return false;
    const std::optional<std::vector<int>> moved = movedPage(page, shift);
    if (!moved) return false;
    // The direction goes first, as before every scroll: the build rotates
    // as one scroll in that direction does.
    setFromTemplate(shift > 0 ? forwardDirection : backwardDirection, stateFile(StateFile::scrollDirection));
    writeText(pageFile(list), formatIntList(*moved));
    buildPage(list);
    return true;
}
