// The wall's commands. Moves of more than one row (to an end of the list,
// Home and End, and to a channel whose number is typed) each write the page
// file once, build the page once and set the selection through its
// template, as the arrow keys do.
#include <GL/freeglut.h>

#include <optional>
#include <string>
#include <vector>

#include "launch/launch.h"
#include "nav/channel_number.h"
#include "nav/commands.h"
#include "nav/found.h"
#include "nav/page.h"
#include "nav/page_moves.h"
#include "scene/wall.h"
#include "state/catalogue.h"
#include "state/state_files.h"

namespace {

// The number being typed, and the value of the timer armed by its last
// digit.
TypedNumber typedNumber;
int typedNumberTimer = 0;

// How many channels a list holds: an imported catalogue its recorded count,
// the delivered catalogue and the favourites list the delivered count.
long long channelCount(int list) {
    if (list == 1) return readChannelCount().value_or(deliveredChannelCount);
    return deliveredChannelCount;
}

}  // namespace

void goToListEnd(bool last) {
    const int list = currentList;
    if (list != 1 && list != 2 && list != findList) return;
    const std::optional<std::vector<int>> page = readIntList(pageFile(list), wallTiles);
    if (!page) return;
    const long long first = (*page)[0];
    const long long end = scrolledToEnd(first, lastFirstOfList(list), last);
    if (end != first) movePage(*page, end - first);
}

void goToChannel(long long channel) {
    const int list = currentList;
    if (list != 1 && list != 2) return;
    if (channel < 1 || channel > channelCount(list)) return;
    const std::optional<std::vector<int>> page = readIntList(pageFile(list), wallTiles);
    if (!page) return;
    const std::optional<ChannelPlace> place =
        placeChannel(*page, channel, lastFirstChannel(list, readChannelCount()));
    if (!place) return;
    if (place->shift != 0 && !movePage(*page, place->shift)) return;
    // A channel that only the bottom row can show is shown there; the
    // selection stays where it was.
    if (place->tile <= selectableTiles) selectTile(place->tile);
}

int typeChannelDigit(int digit) {
    const long long now = glutGet(GLUT_ELAPSED_TIME);
    // A number whose pause passed before its timer could run is complete:
    // this digit starts the next one.
    if (typedNumberDue(typedNumber, now)) finishTypedNumber();
    addTypedDigit(typedNumber, digit, now);
    glutTimerFunc(static_cast<unsigned>(typedNumberPause), onTypedNumberPause, ++typedNumberTimer);
    return typedNumberTimer;
}

void finishTypedNumber() {
    if (const std::optional<long long> channel = takeTypedNumber(typedNumber)) goToChannel(*channel);
}

void forgetTypedNumber() { takeTypedNumber(typedNumber); }

void onTypedNumberPause(int timer) {
    if (timer != typedNumberTimer) return;
    finishTypedNumber();
    glutPostRedisplay();
}

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

}  // namespace

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

// Enter: the launch counter walks through 1..20; counts 1 and 10 open the
// product's own page before the channel. A counter without a value, or
// outside 1..19, starts again at 1.
void advanceLaunchCounter() {
    const std::string counterFile = stateFile(StateFile::launchCounter);
    const int count = readInt(counterFile).value_or(0);
    if (count == 1 || count == 10) openWebAddress(productWebPage);
    setFromTemplate(count >= 1 && count <= 19 ? count + 1 : 1, counterFile);
}

void openChannel() {
    // A channel number still being typed is gone to first: Enter opens the
    // channel it names.
    finishTypedNumber();
    advanceLaunchCounter();
    if (currentList == findList)
        openFoundChannel();
    else
        openSelectedChannel();
}

void openFoundChannel() {
    if (!foundChannelsShown()) return;
    const std::optional<int> tile = readInt(stateFile(StateFile::selectedTile));
    const std::optional<std::vector<int>> page = readIntList(pageFile(findList), selectableTiles);
    if (!tile || *tile < 1 || *tile > selectableTiles || !page) return;
    const std::optional<int> channel = foundChannel((*page)[static_cast<size_t>(*tile - 1)]);
    if (channel) openListChannel(findSourceList(), *channel);
}
