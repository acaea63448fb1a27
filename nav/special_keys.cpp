#include <GL/freeglut.h>
#include <plib/pu.h>

#include <string>

#include "nav/find.h"
#include "nav/keys.h"
#include "nav/page.h"
#include "state/catalogue.h"
#include "state/state_files.h"

namespace {

// F12 copies this many thumbnails, 1.jpg .. 2000.jpg.
const int batchCopyCount = 2000;

const int scrollForward = forwardDirection;
const int scrollBack = backwardDirection;

// What an arrow key does on each selectable tile: the tile selected next (0:
// the selection stays) and the scroll that follows (0: none). Rows are tiles
// 1 to 12; columns are LEFT, UP, RIGHT, DOWN. Up and down move a row and
// scroll at the top and bottom selectable rows; left and right walk the tiles
// in reading order and, at tile 1 and tile 12, scroll and jump to the other
// end of the same row.
const int arrowMoves[13][4][2] = {
    {},
    {{4, scrollBack}, {0, scrollBack}, {2, 0}, {5, 0}},
    {{1, 0}, {0, scrollBack}, {3, 0}, {6, 0}},
    {{2, 0}, {0, scrollBack}, {4, 0}, {7, 0}},
    {{3, 0}, {0, scrollBack}, {5, 0}, {8, 0}},
    {{4, 0}, {1, 0}, {6, 0}, {9, 0}},
    {{5, 0}, {2, 0}, {7, 0}, {10, 0}},
    {{6, 0}, {3, 0}, {8, 0}, {11, 0}},
    {{7, 0}, {4, 0}, {9, 0}, {12, 0}},
    {{8, 0}, {5, 0}, {10, 0}, {0, scrollForward}},
    {{9, 0}, {6, 0}, {11, 0}, {0, scrollForward}},
    {{10, 0}, {7, 0}, {12, 0}, {0, scrollForward}},
    {{11, 0}, {8, 0}, {9, scrollForward}, {0, scrollForward}},
};

void scrollInDirection(int direction) {
    setFromTemplate(direction, stateFile(StateFile::scrollDirection));
    scrollPage();
}

void moveSelection(int arrow) {
    std::optional<int> tile = readInt(stateFile(StateFile::selectedTile));
    if (!tile || *tile < 1 || *tile > selectableTiles) return;
    const int* move = arrowMoves[*tile][arrow];
    if (move[0] != 0) selectTile(move[0]);
    if (move[1] != 0) scrollInDirection(move[1]);
}

// F1 and F2: the wall scale changes by 0.05, computed in double precision
// from the single-precision value in the file. A file without a value is
// left as it is.
void changeWallScale(double change) {
    const std::string file = stateFile(StateFile::wallScale);
    std::optional<float> scale = readFloat(file);
    if (!scale) return;
    writeText(file, formatFloat(static_cast<double>(*scale) + change));
}

}  // namespace

void copyThumbnailBatch() {
    // Copies 1.jpg .. 2000.jpg over 1.Quillon .. 2000.Quillon in the working
    // directory, counting through n.txt and naming through p.txt and pp.txt.
    // The counter must read back as written: where the folder cannot be
    // written the loop stops instead of running forever. Plain names are
    // files of the working directory itself: a link, a FIFO or a device
    // among them is skipped like a missing file (state/state_files.h).
    writeText("n.txt", "0");
    int expected = 0;
    for (;;) {
        std::optional<int> counter = readInt("n.txt");
        if (!counter || *counter != expected || *counter >= batchCopyCount) return;
        const std::string next = std::to_string(*counter + 1);
        writeText("p.txt", next + ".jpg");
        writeText("pp.txt", next + ".Quillon");
        writeText("n.txt", next);
        expected = *counter + 1;
        copyOver(readPath("p.txt", wideScan), readPath("pp.txt", wideScan));
    }
}

void selectTile(int tile) {
    if (tile >= 1 && tile <= selectableTiles) setFromTemplate(tile, stateFile(StateFile::selectedTile));
}

void scrollOneRow(bool forward) { scrollInDirection(forward ? scrollForward : scrollBack); }

namespace {

// What each special key does; keys not listed do nothing.
struct SpecialKeyCommand {
    int key;
    void (*run)();
};

const SpecialKeyCommand specialKeyCommands[] = {
    {GLUT_KEY_F1, [] { changeWallScale(-0.05); }},
    {GLUT_KEY_F2, [] { changeWallScale(0.05); }},
    {GLUT_KEY_F12, copyThumbnailBatch},
    {GLUT_KEY_F3, openFind},
    {GLUT_KEY_LEFT, [] { moveSelection(0); }},
    {GLUT_KEY_UP, [] { moveSelection(1); }},
    {GLUT_KEY_RIGHT, [] { moveSelection(2); }},
    {GLUT_KEY_DOWN, [] { moveSelection(3); }},
    {GLUT_KEY_PAGE_UP, [] { scrollOneRow(false); }},
    {GLUT_KEY_PAGE_DOWN, [] { scrollOneRow(true); }},
    {GLUT_KEY_HOME, [] { goToListEnd(false); }},
    {GLUT_KEY_END, [] { goToListEnd(true); }},
};

}  // namespace


bool isBatchCopyFile(const std::string& name) {
    if (name == "n.txt" || name == "p.txt" || name == "pp.txt") return true;
    const std::string suffix = ".Quillon";
    if (name.size() <= suffix.size() || name.size() > suffix.size() + 4 ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0 || name[0] == '0')
        return false;
    int number = 0;
    for (size_t i = 0; i + suffix.size() < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') return false;
        number = number * 10 + (name[i] - '0');
    }
    return number >= 1 && number <= batchCopyCount;
}

void applySpecialKey(int key) {
    for (const SpecialKeyCommand& command : specialKeyCommands) {
        if (command.key != key) continue;
        // Another command drops a channel number being typed.
        forgetTypedNumber();
        command.run();
        return;
    }
}

void onSpecialKey(int key, int, int) {
    puKeyboard(key + PU_KEY_GLUT_SPECIAL_OFFSET, PU_DOWN);
    glutPostRedisplay();
    applySpecialKey(key);
    glutPostRedisplay();
}
