// The keyboard callback: five commands chosen by the key's character code,
// and digits that type a channel number. Every command works through the
// state files and ends by rebuilding a page or by opening the selected
// channel; the redisplay requested first shows the result.
#include <GL/freeglut.h>
#include <plib/pu.h>

#include <climits>
#include <optional>
#include <string>
#include <vector>

#include "assets/texture.h"
#include "dataroot/safe_file.h"
#include "launch/launch.h"
#include "launch/live_pictures.h"
#include "nav/find.h"
#include "nav/commands.h"
#include "nav/keys.h"
#include "nav/page.h"
#include "scene/wall.h"
#include "state/catalogue.h"
#include "state/state_files.h"

void (*onQuit)() = nullptr;

namespace {

// The favourites count; no value, or a value below 0, counts as no
// favourites at all.
int favouritesCount() {
    std::optional<int> count = readInt(stateFile(StateFile::favouritesCount));
    return count && *count > 0 ? *count : 0;
}

// Whether `path` names a file in the favourites folder. dd.txt only ever
// receives such a path; any other one (edited by hand, or left by another
// program) is never overwritten with the blank image.
bool isInFavouritesFolder(const std::string& path) {
    const std::string folder = dataRoot + "2/";
    return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
           path.find("..") == std::string::npos;
}

// Backspace: the catalogue and the favourites take turns on the wall.
void switchList() {
    currentList = currentList == favouritesList ? catalogueList : favouritesList;
    buildPage(currentList);
}

// Esc: all state already lives in files; the program decides how it ends.
void quit() {
    if (onQuit) onQuit();
}

// A/a: copies the selected catalogue channel into the favourites under the
// next number and shows the favourites. The copies land first and the count
// moves last, so whenever the program ends (killed, power lost) the
// favourites hold either no new favourite or a whole one: files copied
// before the count moved lie in the empty slot beyond the count, like those
// a removed favourite leaves, and the next add overwrites them. When a copy
// or the count cannot be written nothing is added and the catalogue stays
// on the wall, so nothing looks added that was not.
void addFavourite() {
    // Decode every favourite's thumbnail afresh in the build below: files in
    // the favourites folder change on disk.
    for (int tile = 1; tile <= 16; ++tile) {
        discardTexture(tileTextures[2][tile]);
        tileTextures[2][tile] = loadTextureOrPlaceholder(placeholderPath(tile), tile);
    }
    std::optional<std::vector<int>> page = readIntList(pageFile(1), 12);
    std::optional<int> tile = readInt(stateFile(StateFile::selectedTile));
    const bool tileSelectable = tile && *tile >= 1 && *tile <= 12;
    // A selected tile whose channel cannot be told adds nothing.
    if (tileSelectable && !page) return;

    const std::string countFile = stateFile(StateFile::favouritesCount);
    const int count = favouritesCount();
    if (count == INT_MAX) return;
    const int number = count + 1;

    writeText(stateFile(StateFile::favouriteTargetImage), thumbnailPath(2, number));
    writeText(stateFile(StateFile::favouriteTargetLink), linkPath(2, number));
    // Any other selected tile leaves the source paths of the last add.
    if (tileSelectable) {
        const int channel = (*page)[static_cast<size_t>(*tile - 1)];
        writeText(stateFile(StateFile::favouriteSource), thumbnailPath(1, channel));
        writeText(stateFile(StateFile::linkPath), linkPath(1, channel));
    }

    // The paths read back are the ones used. Targets that did not read back
    // as written would name another favourite (or any file); sources must
    // lie in the data root, so nothing from elsewhere is copied in.
    const std::string linkSource = readPath(stateFile(StateFile::linkPath), narrowScan);
    const std::string linkTarget = readPath(stateFile(StateFile::favouriteTargetLink), narrowScan);
    const std::string pictureSource = readPath(stateFile(StateFile::favouriteSource), narrowScan);
    const std::string pictureTarget = readPath(stateFile(StateFile::favouriteTargetImage), narrowScan);
    if (linkTarget != linkPath(2, number) || pictureTarget != thumbnailPath(2, number) ||
        !isDataRootPath(linkSource) || !isDataRootPath(pictureSource))
        return;
    if (!copyOver(linkSource, linkTarget) || !copyOver(pictureSource, pictureTarget)) return;
    // The count moves last and is read back: only then is the favourite added.
    writeText(countFile, std::to_string(number));
    if (readInt(countFile) != number) return;
    currentList = favouritesList;
    buildPage(2);
}

// Delete: the newest favourite's thumbnail becomes the blank image and the
// count goes down by one; its link file stays for the next add to reuse.
void removeLastFavourite() {
    const std::string removedFile = stateFile(StateFile::removedFavourite);
    const int count = favouritesCount();
    // Only a removal whose path and lowered count were both stored goes on
    // to blank the thumbnail. With no favourites left, the favourite removed
    // last is blanked again; before any removal there is none (no dd.txt, or
    // an empty one), and nothing is copied.
    const bool stored = count == 0 || (writeText(removedFile, thumbnailPath(2, count)) &&
                                       writeText(stateFile(StateFile::favouritesCount), std::to_string(count - 1)));
    if (stored) {
        const std::string removed = readPath(removedFile, wideScan);
        if (isInFavouritesFolder(removed)) copyOver(placeholderPath(1), removed);
    }
    buildPage(2);
}

// Which command each key runs, and the list it needs (0: either list).
struct KeyCommand {
    unsigned char key;
    int onlyInList;
    void (*run)();
};

const KeyCommand keyCommands[] = {
    {8, 0, switchList},    // Backspace
    {13, 0, openChannel},  // Enter
    {27, 0, quit},         // Esc
    {'A', 1, addFavourite},
    {'a', 1, addFavourite},
    {127, 2, removeLastFavourite},  // Delete
    {'L', 0, switchLivePictures},
    {'l', 0, switchLivePictures},
};

}  // namespace

void onKeyboard(unsigned char key, int, int) {
    puKeyboard(key, PU_DOWN);
    glutPostRedisplay();
    // In find mode the keys type the query; '/' opens it.
    if (onFindKey(key)) return;
    if (key == '/' && !findActive()) {
        openFind();
        return;
    }
    if (key >= '0' && key <= '9') {
        typeChannelDigit(key - '0');
        return;
    }
    for (const KeyCommand& command : keyCommands) {
        if (command.key != key) continue;
        if (command.onlyInList != 0 && command.onlyInList != currentList) return;
        // Another command drops a channel number being typed.
        if (command.run != openChannel) forgetTypedNumber();
        command.run();
        return;
    }
}
