// Page building and the special keys: selection moves, scrolling, rotation
// of tile textures, the wall scale and the thumbnail batch copy.
#include <gtest/gtest.h>

#include <GL/freeglut.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "assets/texture.h"
#include "nav/commands.h"
#include "nav/keys.h"
#include "nav/page.h"
#include "scene/wall.h"
#include "state/catalogue.h"
#include "state/state_files.h"
#include "tests/support/gl_context.h"
#include "tests/support/scratch.h"
#include "cards/jpeg_writer.h"
#include "tests/support/wall_state.h"

namespace {

std::string page(int first) {
    std::vector<int> numbers;
    for (int i = 0; i < 16; ++i) numbers.push_back(first + i);
    return formatIntList(numbers);
}

// A data root without images: builds find no thumbnails and leave the tiles
// empty, so the file effects can be checked without a window.
class NavigationFiles : public ::testing::Test {
protected:
    void SetUp() override {
        resetWall();
        writeWallState(WallState());
    }
    void TearDown() override { resetWall(); }
    ScratchRoot root;
};

// Every arrow key on every selectable tile, on the page that starts at 5:
// the tile selected afterwards and the page's first number afterwards.
TEST_F(NavigationFiles, ArrowKeysFollowTheSelectionTable) {
    const int keys[4] = {GLUT_KEY_LEFT, GLUT_KEY_UP, GLUT_KEY_RIGHT, GLUT_KEY_DOWN};
    // {tile after, first number after} for LEFT, UP, RIGHT, DOWN.
    const int expected[13][4][2] = {
        {},
        {{4, 1}, {1, 1}, {2, 5}, {5, 5}},   {{1, 5}, {2, 1}, {3, 5}, {6, 5}},
        {{2, 5}, {3, 1}, {4, 5}, {7, 5}},   {{3, 5}, {4, 1}, {5, 5}, {8, 5}},
        {{4, 5}, {1, 5}, {6, 5}, {9, 5}},   {{5, 5}, {2, 5}, {7, 5}, {10, 5}},
        {{6, 5}, {3, 5}, {8, 5}, {11, 5}},  {{7, 5}, {4, 5}, {9, 5}, {12, 5}},
        {{8, 5}, {5, 5}, {10, 5}, {9, 9}},  {{9, 5}, {6, 5}, {11, 5}, {10, 9}},
        {{10, 5}, {7, 5}, {12, 5}, {11, 9}}, {{11, 5}, {8, 5}, {9, 9}, {12, 9}},
    };
    for (int tile = 1; tile <= 12; ++tile)
        for (int k = 0; k < 4; ++k) {
            writeFile(stateFile("z1.txt"), page(5));
            writeFile(stateFile("b.txt"), std::to_string(tile));
            writeFile(stateFile("nn.txt"), "0");
            applySpecialKey(keys[k]);
            EXPECT_EQ(readInt(stateFile("b.txt")), expected[tile][k][0])
                << "tile " << tile << " key " << keys[k];
            EXPECT_EQ(readFile(stateFile("z1.txt")), page(expected[tile][k][1]))
                << "tile " << tile << " key " << keys[k];
            const int first = expected[tile][k][1];
            if (first != 5) {
                EXPECT_EQ(readInt(stateFile("nn.txt")), first > 5 ? 1 : 2)
                    << "the direction is written before the scroll";
            }
        }
}

TEST_F(NavigationFiles, ScrollsStopAtBothEndsOfTheCatalogue) {
    writeFile(stateFile("z1.txt"), page(1985));
    applySpecialKey(GLUT_KEY_PAGE_DOWN);
    EXPECT_EQ(readFile(stateFile("z1.txt")), page(1989));
    applySpecialKey(GLUT_KEY_PAGE_DOWN);
    EXPECT_EQ(readFile(stateFile("z1.txt")), page(1989));
    EXPECT_EQ(readInt(stateFile("nn.txt")), 1);

    writeFile(stateFile("z1.txt"), page(5));
    applySpecialKey(GLUT_KEY_PAGE_UP);
    EXPECT_EQ(readFile(stateFile("z1.txt")), page(1));
    applySpecialKey(GLUT_KEY_PAGE_UP);
    EXPECT_EQ(readFile(stateFile("z1.txt")), page(1));
    EXPECT_EQ(readInt(stateFile("nn.txt")), 2);

    // Tile 1 on the first page: LEFT still selects tile 4, UP does nothing.
    writeFile(stateFile("b.txt"), "1");
    applySpecialKey(GLUT_KEY_UP);
    EXPECT_EQ(readInt(stateFile("b.txt")), 1);
    applySpecialKey(GLUT_KEY_LEFT);
    EXPECT_EQ(readInt(stateFile("b.txt")), 4);
    EXPECT_EQ(readFile(stateFile("z1.txt")), page(1));
}

// An imported catalogue records its size: forward scrolling stops where its
// last channel stands on a selectable row, and tiles past the last channel
// show their placeholder. The favourites list keeps its delivered bound.
TEST_F(NavigationFiles, AnImportedCatalogueScrollsToItsOwnLastChannel) {
    struct Case {
        int count;
        int lastFirst;
    };
    for (const Case& c : {Case{30, 21}, Case{12, 1}, Case{2004, 1993}, Case{5000, 4989}}) {
        writeFile(channelCountFile, std::to_string(c.count));
        writeFile(stateFile("z1.txt"), page(c.lastFirst > 4 ? c.lastFirst - 4 : 1));
        applySpecialKey(GLUT_KEY_PAGE_DOWN);
        applySpecialKey(GLUT_KEY_PAGE_DOWN);
        EXPECT_EQ(readFile(stateFile("z1.txt")), page(c.lastFirst)) << c.count;
    }
    writeFile(channelCountFile, "30");
    writeFile(stateFile("z1.txt"), page(17));
    applySpecialKey(GLUT_KEY_PAGE_DOWN);
    for (int tile = 1; tile <= 16; ++tile) {
        const int channel = 20 + tile;
        EXPECT_EQ(readFile(stateFile("n" + std::to_string(tile) + ".txt")),
                  channel <= 30 ? thumbnailPath(1, channel) : placeholderPath(tile))
            << "tile " << tile;
    }
    currentList = 2;
    writeFile(stateFile("z2.txt"), page(1985));
    applySpecialKey(GLUT_KEY_PAGE_DOWN);
    applySpecialKey(GLUT_KEY_PAGE_DOWN);
    EXPECT_EQ(readFile(stateFile("z2.txt")), page(1989));
    EXPECT_EQ(readFile(stateFile("n16b.txt")), thumbnailPath(2, 2004));
    currentList = 1;
}

TEST_F(NavigationFiles, AScrollWritesThePageAndItsTilePathsExactly) {
    writeFile(stateFile("z1.txt"), "1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16\n");
    applySpecialKey(GLUT_KEY_PAGE_DOWN);
    EXPECT_EQ(readFile(stateFile("z1.txt")),
              "5\n6\n7\n8\n9\n10\n11\n12\n13\n14\n15\n16\n17\n18\n19\n20");
    EXPECT_EQ(readFile(stateFile("n1.txt")), "VESTRALUME/1/5.Quillon");
    EXPECT_EQ(readFile(stateFile("n16.txt")), "VESTRALUME/1/20.Quillon");
    EXPECT_FALSE(fileExists(stateFile("n16b.txt")));

    currentList = 2;
    writeFile(stateFile("z2.txt"), page(9));
    applySpecialKey(GLUT_KEY_PAGE_UP);
    EXPECT_EQ(readFile(stateFile("z2.txt")), page(5));
    EXPECT_EQ(readFile(stateFile("n16b.txt")), "VESTRALUME/2/20.Quillon");
    EXPECT_EQ(readFile(stateFile("z1.txt")), page(5)) << "list 1's page is untouched";
}

TEST_F(NavigationFiles, BadStateChangesNothing) {
    const std::string tilePaths = "VESTRALUME/1/77.Quillon";
    for (int k = 1; k <= 16; ++k) writeFile(tilePathFile(1, k), tilePaths);
    const char* badPages[] = {"", "1 2 3", "1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 x"};
    for (const char* bad : badPages) {
        writeFile(stateFile("z1.txt"), bad);
        applySpecialKey(GLUT_KEY_PAGE_DOWN);
        buildPage(1);
        EXPECT_EQ(readFile(stateFile("z1.txt")), bad);
        EXPECT_EQ(readFile(tilePathFile(1, 1)), tilePaths);
        EXPECT_EQ(readInt(stateFile("2c.txt")), 1) << "no build ran";
    }
    std::remove(stateFile("z1.txt").c_str());
    buildPage(1);
    EXPECT_EQ(readFile(tilePathFile(1, 16)), tilePaths);

    // A page whose numbers would leave the integer range is not scrolled.
    const std::string huge = "1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n11\n12\n13\n14\n15\n2147483647";
    writeFile(stateFile("z1.txt"), huge);
    applySpecialKey(GLUT_KEY_PAGE_DOWN);
    EXPECT_EQ(readFile(stateFile("z1.txt")), huge);

    // A selection outside 1..12 moves nothing.
    writeFile(stateFile("z1.txt"), page(5));
    for (const char* bad : {"13", "0", "x", "-3"}) {
        writeFile(stateFile("b.txt"), bad);
        for (int key : {GLUT_KEY_LEFT, GLUT_KEY_UP, GLUT_KEY_RIGHT, GLUT_KEY_DOWN})
            applySpecialKey(key);
        EXPECT_EQ(readFile(stateFile("b.txt")), bad);
        EXPECT_EQ(readFile(stateFile("z1.txt")), page(5));
    }
}

TEST_F(NavigationFiles, OtherKeysChangeNoFile) {
    const auto snapshot = [] {
        std::string all;
        for (const auto& entry : std::filesystem::directory_iterator("VESTRALUME/n"))
            all += entry.path().string() + "=" + readFile(entry.path().string()) + ";";
        return all;
    };
    const std::string before = snapshot();
    // (F3 opens find mode: tests/unit/test_find.cpp.)
    for (int key : {GLUT_KEY_INSERT, GLUT_KEY_F4, GLUT_KEY_F5, GLUT_KEY_F11, GLUT_KEY_SHIFT_L, 0, 999})
        applySpecialKey(key);
    EXPECT_EQ(snapshot(), before);
}

TEST_F(NavigationFiles, WallScaleKeysWriteLikeTheStreamDoes) {
    const struct {
        const char* before;
        int key;
        const char* after;
    } cases[] = {
        {"2", GLUT_KEY_F1, "1.95"},         {"2", GLUT_KEY_F2, "2.05"},
        {"0.05", GLUT_KEY_F1, "7.45058e-10"}, {"0.05", GLUT_KEY_F2, "0.1"},
        {"1.2", GLUT_KEY_F2, "1.25"},       {"-0.5", GLUT_KEY_F1, "-0.55"},
    };
    for (const auto& c : cases) {
        writeFile(stateFile("u.txt"), c.before);
        applySpecialKey(c.key);
        EXPECT_EQ(readFile(stateFile("u.txt")), c.after) << c.before;
    }
    writeFile(stateFile("u.txt"), "big");
    applySpecialKey(GLUT_KEY_F1);
    EXPECT_EQ(readFile(stateFile("u.txt")), "big");
}

TEST_F(NavigationFiles, BatchCopyCopiesTwoThousandThumbnails) {
    for (int k = 1; k <= 2000; ++k) writeFile(std::to_string(k) + ".jpg", "jpeg " + std::to_string(k));
    writeFile("17.Quillon", "old");
    std::remove("1999.jpg");  // a missing source is skipped
    applySpecialKey(GLUT_KEY_F12);
    EXPECT_EQ(readFile("n.txt"), "2000");
    EXPECT_EQ(readFile("p.txt"), "2000.jpg");
    EXPECT_EQ(readFile("pp.txt"), "2000.Quillon");
    EXPECT_EQ(readFile("1.Quillon"), "jpeg 1");
    EXPECT_EQ(readFile("17.Quillon"), "jpeg 17");
    EXPECT_EQ(readFile("2000.Quillon"), "jpeg 2000");
    EXPECT_FALSE(fileExists("1999.Quillon"));
    EXPECT_FALSE(fileExists("2001.Quillon"));
}

TEST_F(NavigationFiles, BatchCopyEndsInAFolderThatCannotBeWritten) {
    writeFile("n.txt", "5");
    writeFile("1.jpg", "x");
    chmod(".", 0555);
    int status = runWithoutPrivileges(root, [] {
        alarm(20);  // a loop that never ends fails the test instead of hanging it
        copyThumbnailBatch();
        return 0;
    });
    chmod(".", 0755);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(readFile("n.txt"), "5");
    EXPECT_FALSE(fileExists("1.Quillon"));
}

// Builds with real thumbnails in a window: rotation and decoding.
class PageBuilding : public NavigationFiles {
protected:
    void SetUp() override {
        ensureGlContext();
        NavigationFiles::SetUp();
        for (int k = 1; k <= 32; ++k) writeSolidJpeg(placeholderPath(k), 16, 8, 0, 0, 0);
        for (int list = 1; list <= 2; ++list)
            for (int n = 1; n <= 24; ++n) writeSolidJpeg(thumbnailPath(list, n), 16, 8, 90, 90, 90);
        for (int list = 1; list <= 2; ++list)
            for (int k = 1; k <= 16; ++k)
                tileTextures[list][k] = loadTexture(placeholderPath(k + 16 * (list - 1)));
    }
    static std::string shown(int list, int tile) {
        return tileTextures[list][tile] ? tileTextures[list][tile]->name : "(none)";
    }
};

TEST_F(PageBuilding, FillsEveryTileFromThePage) {
    writeFile(stateFile("z1.txt"), page(9));
    buildPage(1);
    for (int tile = 1; tile <= 16; ++tile) {
        EXPECT_EQ(shown(1, tile), thumbnailPath(1, 8 + tile));
        EXPECT_EQ(readFile(tilePathFile(1, tile)), thumbnailPath(1, 8 + tile));
    }
    EXPECT_FALSE(thumbnailRefresh[1][1]);
}

TEST_F(PageBuilding, RotationAdvancesTheCounterOfTheLastDirection) {
    const struct {
        int list;
        const char* direction;
        const char* counter1c;
        const char* counter2c;
        int rotated;  // tile whose texture is decoded afresh, 0 for none
        const char* after1c;
        const char* after2c;
        bool refresh1;
    } cases[] = {
        {1, "1", "3", "5", 5, "3", "6", false},   // forward: 2c advances
        {1, "2", "3", "5", 3, "4", "5", false},   // backward: 1c advances
        {1, "1", "3", "16", 16, "3", "1", true},  // 2c wraps on list 1: list-1 refresh
        {2, "1", "3", "16", 16, "3", "1", false}, // the same wrap on list 2: no list-1 refresh
        {1, "2", "16", "5", 16, "1", "5", false}, // 1c wraps: no refresh
        {1, "1", "3", "0", 0, "3", "1", false},   // bad counters are reset to 1
        {1, "1", "3", "17", 0, "3", "1", false},
        {1, "1", "3", "text", 0, "3", "1", false},
        {1, "0", "3", "5", 0, "3", "5", false},   // bad directions skip the step
        {1, "3", "3", "5", 0, "3", "5", false},
        {1, "", "3", "5", 0, "3", "5", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("list ") + std::to_string(c.list) + " direction " + c.direction +
                     " 1c " + c.counter1c + " 2c " + c.counter2c);
        currentList = c.list;
        writeFile(stateFile("nn.txt"), c.direction);
        buildPage(c.list);  // the page is in the registry now
        for (int list = 1; list <= 2; ++list) thumbnailRefresh[list][1] = false;
        writeFile(stateFile("1c.txt"), c.counter1c);
        writeFile(stateFile("2c.txt"), c.counter2c);
        long before = decodeCount;
        // Which load made each tile's texture: a rotated tile shows a texture
        // made by a new load of the same thumbnail, every other tile keeps
        // its own. (A record's address says nothing here: the allocator may
        // hand a freed record's place to the next one.)
        long serials[17] = {};
        for (int tile = 1; tile <= 16; ++tile) serials[tile] = tileTextures[c.list][tile]->serial;
        buildPage(c.list);
        EXPECT_EQ(decodeCount - before, c.rotated ? 1 : 0);
        for (int tile = 1; tile <= 16; ++tile) {
            EXPECT_EQ(shown(c.list, tile), thumbnailPath(c.list, tile)) << "tile " << tile;
            if (tile == c.rotated)
                EXPECT_GT(tileTextures[c.list][tile]->serial, serials[tile]) << "tile " << tile;
            else
                EXPECT_EQ(tileTextures[c.list][tile]->serial, serials[tile]) << "tile " << tile;
        }
        EXPECT_EQ(readFile(stateFile("1c.txt")), c.after1c);
        EXPECT_EQ(readFile(stateFile("2c.txt")), c.after2c);
        EXPECT_EQ(thumbnailRefresh[1][1], c.refresh1);
        EXPECT_EQ(thumbnailRefresh[2][1], c.list == 2) << "every list-2 build refreshes list 2";
    }
}

TEST_F(PageBuilding, ARowScrollDecodesOnlyTheNewRowAndTheRotatedTile) {
    buildPage(1);
    writeFile(stateFile("2c.txt"), "7");
    long before = decodeCount;
    // Page 5..20: channels 17..20 are new, and channel 7 (now on tile 3) is
    // decoded afresh because the rotation discarded tile 7's texture.
    applySpecialKey(GLUT_KEY_PAGE_DOWN);
    EXPECT_EQ(decodeCount - before, 5);
    EXPECT_EQ(shown(1, 3), thumbnailPath(1, 7));
    EXPECT_EQ(shown(1, 16), thumbnailPath(1, 20));
}

TEST_F(PageBuilding, AMissingThumbnailShowsThePlaceholder) {
    std::remove(thumbnailPath(1, 3).c_str());
    writeFile(thumbnailPath(1, 4), "damaged");
    testing::internal::CaptureStdout();
    buildPage(1);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(shown(1, 3), placeholderPath(3));
    EXPECT_EQ(shown(1, 4), placeholderPath(4));
    EXPECT_EQ(shown(1, 5), thumbnailPath(1, 5));
    EXPECT_NE(out.find("Impossível carregar arquivo JPG: VESTRALUME/1/3.Quillon"), std::string::npos);
}

TEST_F(PageBuilding, ThePreviousTexturesStayRegistered) {
    writeFile(stateFile("nn.txt"), "0");
    buildPage(1);
    Texture* first = tileTextures[1][1];
    writeFile(stateFile("z1.txt"), page(5));
    buildPage(1);
    EXPECT_GE(findTextureIndex(thumbnailPath(1, 1)), 0);
    writeFile(stateFile("z1.txt"), page(1));
    long before = decodeCount;
    buildPage(1);
    EXPECT_EQ(decodeCount, before) << "the page's thumbnails were all still registered";
    EXPECT_EQ(tileTextures[1][1], first);
}

}  // namespace
