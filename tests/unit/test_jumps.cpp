// Moves of more than one row and the pointer's clicks: typed channel
// numbers, Home and End, the page that shows a channel, and telling clicks
// from drags and double-clicks. The rules alone first, then their effect on
// the state files.
#include <gtest/gtest.h>

#include <GL/freeglut.h>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "nav/channel_number.h"
#include "nav/clicks.h"
#include "nav/commands.h"
#include "nav/keys.h"
#include "nav/page_moves.h"
#include "scene/wall.h"
#include "state/catalogue.h"
#include "state/state_files.h"
#include "tests/support/gl_context.h"
#include "tests/support/scratch.h"
#include "tests/support/wall_state.h"

namespace {

std::vector<int> pageNumbers(int first) {
    std::vector<int> numbers;
    for (int i = 0; i < 16; ++i) numbers.push_back(first + i);
    return numbers;
}

std::string page(int first) { return formatIntList(pageNumbers(first)); }

TEST(TypedNumber, DigitsWithinThePauseMakeOneNumber) {
    TypedNumber number;
    EXPECT_FALSE(typedNumberDue(number, 100000));
    addTypedDigit(number, 1, 0);
    addTypedDigit(number, 9, 1400);
    addTypedDigit(number, 8, 2000);
    addTypedDigit(number, 9, 3499);
    EXPECT_FALSE(typedNumberDue(number, 3499 + typedNumberPause - 1));
    EXPECT_TRUE(typedNumberDue(number, 3499 + typedNumberPause));
    EXPECT_EQ(takeTypedNumber(number), 1989);
    EXPECT_EQ(takeTypedNumber(number), std::nullopt) << "taking ends the number";
    EXPECT_FALSE(typedNumberDue(number, 100000));

    // Leading zeros count for nothing; a run of digits far too long for any
    // list stays a number above every channel count instead of wrapping.
    for (int digit : {0, 0, 7}) addTypedDigit(number, digit, 0);
    EXPECT_EQ(takeTypedNumber(number), 7);
    for (int i = 0; i < 30; ++i) addTypedDigit(number, 9, i);
    const std::optional<long long> huge = takeTypedNumber(number);
    ASSERT_TRUE(huge);
    EXPECT_GT(*huge, maxChannelCount);
    addTypedDigit(number, 10, 0);
    addTypedDigit(number, -1, 0);
    EXPECT_EQ(takeTypedNumber(number), std::nullopt) << "only digits count";
}

TEST(PageMoves, ScrollingToAnEndStopsWhereRowScrollsStop) {
    const struct {
        long long first, lastFirst;
        bool forward;
        long long end;
    } cases[] = {
        {1, 1989, true, 1989},     {1, 1989, false, 1},     {1985, 1989, true, 1989},
        {1989, 1989, true, 1989},  {2001, 1989, true, 1989}, {1989, 1989, false, 1},
        // End on a page beyond the count (a damaged count.txt) comes back.
        {9999969, 1989, true, 1989}, {9999970, 1989, true, 1986},
        {5, 1989, false, 1},       {21, 21, true, 21},       {1, 1, true, 1},
        {1, 4989, true, 4989},     {-7, 1989, false, -7},
        // A page off the rows of 4 goes as far as row scrolls would take it:
        // past the bound by less than a row.
        {3, 1989, true, 1991},     {3, 1989, false, -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(scrolledToEnd(c.first, c.lastFirst, c.forward), c.end)
            << c.first << (c.forward ? " forward to " : " back from ") << c.lastFirst;
}

TEST(PageMoves, AChannelComesToTheNearestPageThatCanSelectIt) {
    const struct {
        int first;
        long long channel, lastFirst;
        long long shift;
        int tile;
    } cases[] = {
        {1, 1989, 1989, 1980, 9},   // typed from the first page: the third row
        {1, 5, 1989, 0, 5},         // already on a selectable row: no move
        {1, 13, 1989, 4, 9},        // on the bottom row: one row forward
        {101, 50, 1989, -52, 2},    // backwards: the top row
        {101, 112, 1989, 0, 12},
        {1989, 1, 1989, -1988, 1},
        {1, 2004, 1989, 1988, 16},  // only the last page shows it, on its bottom row
        {1, 2004, 1993, 1992, 12},  // an imported list of 2004 scrolls one row further
        {1, 30, 21, 20, 10},
    };
    for (const auto& c : cases) {
        const std::optional<ChannelPlace> place =
            placeChannel(pageNumbers(c.first), c.channel, c.lastFirst);
        ASSERT_TRUE(place) << c.channel;
        EXPECT_EQ(place->shift, c.shift) << c.channel << " from " << c.first;
        EXPECT_EQ(place->tile, c.tile) << c.channel << " from " << c.first;
    }
    // No page scrolling reaches shows it.
    EXPECT_EQ(placeChannel(pageNumbers(1), 2005, 1989), std::nullopt);
    EXPECT_EQ(placeChannel(pageNumbers(1), -3, 1989), std::nullopt);
    EXPECT_EQ(placeChannel({1, 2, 3}, 2, 1989), std::nullopt) << "a short page";
}

TEST(Clicks, ClicksDragsAndDoubleClicks) {
    ClickTracker clicks;
    // Press and release within the slop: a click where the press was.
    notePress(clicks, 100, 100, 0);
    noteMotion(clicks, 100 + clickSlop, 100 - clickSlop);
    EXPECT_TRUE(noteRelease(clicks, 103, 98));
    EXPECT_EQ(clicks.pressX, 100);
    EXPECT_FALSE(noteClickedTile(clicks, 6));
    // The second click on the same tile in time opens; a third starts over.
    notePress(clicks, 101, 101, doubleClickInterval);
    EXPECT_TRUE(noteRelease(clicks, 101, 101));
    EXPECT_TRUE(noteClickedTile(clicks, 6));
    notePress(clicks, 101, 101, doubleClickInterval + 100);
    EXPECT_TRUE(noteRelease(clicks, 101, 101));
    EXPECT_FALSE(noteClickedTile(clicks, 6));

    // Too slow, or on another tile, or beside the wall: no double-click.
    notePress(clicks, 0, 0, 5000);
    noteRelease(clicks, 0, 0);
    noteClickedTile(clicks, 3);
    notePress(clicks, 0, 0, 5000 + doubleClickInterval + 1);
    noteRelease(clicks, 0, 0);
    EXPECT_FALSE(noteClickedTile(clicks, 3));
    notePress(clicks, 0, 0, 5500);
    noteRelease(clicks, 0, 0);
    EXPECT_FALSE(noteClickedTile(clicks, 4));
    notePress(clicks, 0, 0, 5600);
    noteRelease(clicks, 0, 0);
    noteClickedTile(clicks, 0);
    notePress(clicks, 0, 0, 5700);
    noteRelease(clicks, 0, 0);
    EXPECT_FALSE(noteClickedTile(clicks, 0));

    // Moving beyond the slop makes a drag, even when the pointer comes back;
    // a drag ends a double-click under way.
    notePress(clicks, 50, 50, 9000);
    noteRelease(clicks, 50, 50);
    noteClickedTile(clicks, 2);
    notePress(clicks, 50, 50, 9100);
    noteMotion(clicks, 50 + clickSlop + 1, 50);
    noteMotion(clicks, 50, 50);
    EXPECT_FALSE(noteRelease(clicks, 50, 50));
    notePress(clicks, 50, 50, 9200);
    EXPECT_TRUE(noteRelease(clicks, 50, 50));
    EXPECT_FALSE(noteClickedTile(clicks, 2));
    notePress(clicks, 50, 50, 9300);
    EXPECT_FALSE(noteRelease(clicks, 50, 50 + clickSlop + 1)) << "released far away";
    EXPECT_FALSE(noteRelease(clicks, 50, 50)) << "a release without a press";
}

// A data root without images, as in the navigation tests: builds find no
// thumbnails and leave the tiles empty, so the file effects stand alone.
// Every build advances one rotation counter by one, which tells how many
// builds ran.
class Jumps : public testing::Test {
protected:
    void SetUp() override {
        ensureGlContext();
        resetWall();
        WallState state;
        state.selectedTile = 6;
        state.direction = 0;
        writeWallState(state);
    }
    void TearDown() override { resetWall(); }

    // Builds since the counters were last set to 1: {back, forward}.
    static std::pair<int, int> builds() {
        return {readInt(stateFile("1c.txt")).value_or(0) - 1,
                readInt(stateFile("2c.txt")).value_or(0) - 1};
    }

    static std::map<std::string, std::string> stateFiles() {
        std::map<std::string, std::string> files;
        for (const auto& entry : std::filesystem::directory_iterator("VESTRALUME/n"))
            files[entry.path().string()] = readFile(entry.path().string());
        return files;
    }

    ScratchRoot root;
};

TEST_F(Jumps, HomeAndEndReachTheBoundsInOneBuild) {
    struct Case {
        int list;
        const char* count;  // the catalogue's recorded count, or none
        int start, last;
    };
    for (const Case& c : {Case{1, nullptr, 17, 1989}, Case{1, "30", 5, 21},
                          Case{1, "5000", 101, 4989}, Case{2, "30", 17, 1989}}) {
        if (c.count)
            writeFile(channelCountFile, c.count);
        else
            std::filesystem::remove(channelCountFile);
        currentList = c.list;
        const std::string pageFileName = stateFile(c.list == 1 ? "z1.txt" : "z2.txt");
        writeFile(pageFileName, page(c.start));
        writeFile(stateFile("1c.txt"), "1");
        writeFile(stateFile("2c.txt"), "1");
        applySpecialKey(GLUT_KEY_END);
        EXPECT_EQ(readFile(pageFileName), page(c.last)) << c.list << " " << c.start;
        EXPECT_EQ(readInt(stateFile("nn.txt")), 1) << "End scrolls forward";
        EXPECT_EQ(builds(), std::make_pair(0, 1)) << "one build";
        EXPECT_EQ(readInt(stateFile("b.txt")), 6) << "the selection stays";
        EXPECT_EQ(readFile(tilePathFile(c.list, 1)), thumbnailPath(c.list, c.last));

        applySpecialKey(GLUT_KEY_HOME);
        EXPECT_EQ(readFile(pageFileName), page(1));
        EXPECT_EQ(readInt(stateFile("nn.txt")), 2) << "Home scrolls back";
        EXPECT_EQ(builds(), std::make_pair(1, 1)) << "one build more";

        // At the bound, nothing changes at all.
        const auto before = stateFiles();
        applySpecialKey(GLUT_KEY_HOME);
        EXPECT_TRUE(stateFiles() == before);
    }
    currentList = 1;
    std::filesystem::remove(channelCountFile);
    writeFile(stateFile("z1.txt"), page(1989));
    const auto before = stateFiles();
    applySpecialKey(GLUT_KEY_END);
    EXPECT_TRUE(stateFiles() == before);

    // A page file that cannot be read stays as it is.
    writeFile(stateFile("z1.txt"), "1 2 3");
    applySpecialKey(GLUT_KEY_END);
    EXPECT_EQ(readFile(stateFile("z1.txt")), "1 2 3");
}

TEST_F(Jumps, ATypedChannelIsShownOnASelectableRowAndSelected) {
    struct Case {
        int start;
        long long channel;
        int first, tile;
        std::pair<int, int> builds;
    } cases[] = {
        {1, 1989, 1981, 9, {0, 1}},
        {1, 7, 1, 7, {0, 0}},  // already on a selectable row: no build
        {1, 14, 5, 10, {0, 1}},
        {1989, 1, 1, 1, {1, 0}},
        {1001, 990, 989, 2, {1, 0}},
    };
    for (const Case& c : cases) {
        writeFile(stateFile("z1.txt"), page(c.start));
        writeFile(stateFile("1c.txt"), "1");
        writeFile(stateFile("2c.txt"), "1");
        writeFile(stateFile("b.txt"), "6");
        goToChannel(c.channel);
        EXPECT_EQ(readFile(stateFile("z1.txt")), page(c.first)) << c.channel;
        EXPECT_EQ(readInt(stateFile("b.txt")), c.tile) << c.channel;
        EXPECT_EQ(builds(), c.builds) << c.channel;
    }

    // Channels only the last page's bottom row shows: that page, the
    // selection staying where it was.
    writeFile(stateFile("z1.txt"), page(1));
    writeFile(stateFile("b.txt"), "6");
    goToChannel(2004);
    EXPECT_EQ(readFile(stateFile("z1.txt")), page(1989));
    EXPECT_EQ(readInt(stateFile("b.txt")), 6);

    // Numbers outside the list change nothing; an imported catalogue's list
    // ends at its count, the favourites list at the delivered count.
    writeFile(stateFile("z1.txt"), page(1));
    writeFile(stateFile("z2.txt"), page(1));
    auto before = stateFiles();
    for (long long outside : {0LL, -5LL, 2005LL, 99999999LL, 1000000000000LL}) goToChannel(outside);
    EXPECT_TRUE(stateFiles() == before);
    writeFile(channelCountFile, "30");
    before = stateFiles();
    goToChannel(31);
    EXPECT_TRUE(stateFiles() == before);
    goToChannel(30);
    EXPECT_EQ(readFile(stateFile("z1.txt")), page(21));
    EXPECT_EQ(readInt(stateFile("b.txt")), 10);
    currentList = 2;
    goToChannel(1500);
    EXPECT_EQ(readInt(stateFile("b.txt")), 12);
    EXPECT_EQ(readFile(stateFile("z2.txt")), page(1489));
    EXPECT_EQ(readFile(stateFile("z1.txt")), page(21)) << "the other list's page stays";
    currentList = 1;
}

TEST_F(Jumps, TypedDigitsGoToTheirChannelWhenThePauseEnds) {
    // Digits alone change nothing; the timer armed by the last digit goes.
    const auto before = stateFiles();
    const int first = typeChannelDigit(1);
    for (int digit : {9, 8}) typeChannelDigit(digit);
    const int last = typeChannelDigit(9);
    EXPECT_TRUE(stateFiles() == before);
    onTypedNumberPause(first);
    EXPECT_TRUE(stateFiles() == before) << "a timer armed before a later digit does nothing";
    onTypedNumberPause(last);
    EXPECT_EQ(readFile(stateFile("z1.txt")), page(1981));
    EXPECT_EQ(readInt(stateFile("b.txt")), 9);
    onTypedNumberPause(last);
    EXPECT_EQ(builds(), std::make_pair(0, 1)) << "the number was gone to once";

    // Another command drops the number being typed.
    const int dropped = typeChannelDigit(5);
    applySpecialKey(GLUT_KEY_LEFT);
    EXPECT_EQ(readInt(stateFile("b.txt")), 8);
    onTypedNumberPause(dropped);
    EXPECT_EQ(readInt(stateFile("b.txt")), 8);
    EXPECT_EQ(readFile(stateFile("z1.txt")), page(1981));

    // Keys without a command leave it alone.
    const int kept = typeChannelDigit(7);
    for (int key : {GLUT_KEY_INSERT, GLUT_KEY_F5}) applySpecialKey(key);
    onKeyboard('x', 0, 0);
    onTypedNumberPause(kept);
    EXPECT_EQ(readFile(stateFile("z1.txt")), page(5)) << "the nearest page showing 7";
    EXPECT_EQ(readInt(stateFile("b.txt")), 3);
}

}  // namespace
