// The rules of playing inside the wall: when the selected tile's preview
// is due, where a zap goes round the list, and the words on screen.
#include <gtest/gtest.h>

#include "play/watch_rules.h"

namespace {

TEST(Preview, DueOnceTheSelectionHasRestedAndStopsWhenItMoves) {
    PreviewTimer timer;
    EXPECT_FALSE(previewDue(timer, 100000)) << "nothing seen yet";
    const SelectionSpot first{1, 7, 5};
    EXPECT_FALSE(noteSelection(timer, first, 1000)) << "the first look is no move";
    EXPECT_FALSE(previewDue(timer, 1000 + previewRest - 1));
    EXPECT_TRUE(previewDue(timer, 1000 + previewRest));
    timer.started = true;
    EXPECT_FALSE(previewDue(timer, 5000)) << "one start per rest";
    EXPECT_FALSE(noteSelection(timer, first, 6000)) << "the same spot again is no move";
    EXPECT_TRUE(timer.started) << "and keeps the preview playing";

    // Any part of the spot changing is a move, and the rest starts again.
    const SelectionSpot moves[] = {{1, 7, 6}, {1, 8, 6}, {2, 8, 6}, {1, 8, 6}};
    long long now = 7000;
    for (const SelectionSpot& spot : moves) {
        EXPECT_TRUE(noteSelection(timer, spot, now)) << spot.list << " " << spot.pageBuild;
        EXPECT_FALSE(timer.started);
        EXPECT_FALSE(previewDue(timer, now + previewRest - 1));
        EXPECT_TRUE(previewDue(timer, now + previewRest));
        now += 100;
    }
    // No tile selected: nothing to preview, however long it rests.
    noteSelection(timer, SelectionSpot{1, 8, 0}, now);
    EXPECT_FALSE(previewDue(timer, now + 100000));
}

TEST(Zap, GoesToTheNeighbourAndRoundTheEnds) {
    const struct {
        long long channel;
        int step;
        long long count;
        long long target;
    } cases[] = {
        {1, 1, 4, 2},   {3, 1, 4, 4},    {4, 1, 4, 1},    {1, -1, 4, 4},   {2, -1, 4, 1},
        {1, 1, 1, 1},   {1, -1, 1, 1},   {7, 1, 0, 0},    {7, -1, 0, 0},
        // From outside the list (a tile past an imported catalogue's end):
        // forward to the first, back to the last.
        {9, 1, 4, 1},   {9, -1, 4, 4},   {0, 1, 4, 1},    {0, -1, 4, 4},   {-5, -1, 4, 4},
        {2004, 1, 2004, 1}, {1, -1, 100000, 100000},
    };
    for (const auto& c : cases)
        EXPECT_EQ(zapTarget(c.channel, c.step, c.count), c.target)
            << c.channel << " by " << c.step << " of " << c.count;
}

TEST(Words, CaptionAndFaultMessages) {
    EXPECT_EQ(channelCaption(12, "Nachrichten \xe2\x80\x94 Eins"), "12  Nachrichten \xe2\x80\x94 Eins");
    EXPECT_EQ(channelCaption(3, ""), "3");
    EXPECT_EQ(faultMessage(PlaybackFault::none, 3), "");
    for (PlaybackFault fault : {PlaybackFault::unreachable, PlaybackFault::unplayable,
                                PlaybackFault::ended, PlaybackFault::webPage}) {
        const std::string message = faultMessage(fault, 42);
        EXPECT_NE(message.find("Channel 42 "), std::string::npos) << message;
        EXPECT_NE(message.find("Esc"), std::string::npos) << message;
        for (unsigned char c : message) EXPECT_TRUE(c >= 32 && c < 127) << message;
    }
}

}  // namespace
