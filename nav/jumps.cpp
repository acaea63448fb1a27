// Moves of more than one row: to an end of the list (Home, End) and to a
// channel whose number is typed. Each writes the page file once, builds the
// page once and sets the selection through its template, as the arrow keys
// do.
#include <GL/freeglut.h>

#include <optional>
#include <vector>

#include "nav/channel_number.h"
#include "nav/keys.h"
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
