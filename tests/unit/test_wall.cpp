// The channel wall: placement bands, tile origins and the thumbnail refresh.
#include <gtest/gtest.h>

#include <GL/gl.h>
#include <cstdio>

#include "assets/texture.h"
#include "scene/placement.h"
#include "scene/wall.h"
#include "state/catalogue.h"
#include "state/state_files.h"
#include "tests/support/gl_context.h"
#include "tests/support/scratch.h"
#include "cards/jpeg_writer.h"

namespace {

TEST(WallPlacement, ScalesReadFromTheFileFallIntoTheirBands) {
    ScratchRoot root;
    const struct {
        const char* text;
        int band;
    } cases[] = {
        {"2.3", 2}, {"2.1", 4}, {"1.9", 6}, {"1.8", 7},  {"1.7", 7},   {"1.6", 8},
        {"2", 4},   {"2.35", 1}, {"1.55", 9}, {"0", 0},  {"100", 0},  {"-1", 0},
        {"99.9", 1}, {"0.05", 9}, {"2.2", 2},
    };
    for (const auto& c : cases) {
        writeFile("VESTRALUME/n/u.txt", c.text);
        std::optional<float> s = readFloat("VESTRALUME/n/u.txt");
        ASSERT_TRUE(s) << c.text;
        EXPECT_EQ(wallPlacementBand(*s), c.band) << c.text;
    }
    // The exact decimal bounds decide in double precision.
    EXPECT_EQ(wallPlacementBand(2.0), 4);
    EXPECT_EQ(wallPlacementBand(2.1), 0);  // exactly on a bound between two open bands
    EXPECT_EQ(wallPlacementBand(1.6), 0);
    EXPECT_EQ(wallPlacementBand(2.3), 0);
}

TEST(WallPlacement, TileOriginsFollowTheGrid) {
    float offset[3];
    wallBandOffset(4, offset);
    EXPECT_EQ(offset[0], -20.5f);
    EXPECT_EQ(offset[1], 4.0f);
    EXPECT_EQ(offset[2], -35.0f);
    for (int tile = 1; tile <= 16; ++tile) {
        double origin[3];
        tileOrigin(2.0, tile, origin);
        const int column = (tile - 1) % 4;
        const int row = (tile - 1) / 4;
        EXPECT_DOUBLE_EQ(origin[0], -20.5 + 2.0 * 6.55 * column) << tile;
        EXPECT_DOUBLE_EQ(origin[1], 5.5 + 4 - 2.0 * 3.75 * row) << tile;
        EXPECT_DOUBLE_EQ(origin[2], -35) << tile;
    }
    double origin[3];
    tileOrigin(2.35, 6, origin);  // band 1 lifts the wall higher
    EXPECT_DOUBLE_EQ(origin[0], -23 + 2.35 * 6.55);
    EXPECT_DOUBLE_EQ(origin[1], 5.5 + 6 - 2.35 * 3.75);
    tileOrigin(0, 16, origin);  // no band: the wall collapses at the lift point
    EXPECT_DOUBLE_EQ(origin[0], 0);
    EXPECT_DOUBLE_EQ(origin[1], 5.5);
    EXPECT_DOUBLE_EQ(origin[2], 0);
}

TEST(WallPlacement, TilesAreDrawnInSnakeOrder) {
    const int expected[16] = {1, 2, 3, 4, 8, 7, 6, 5, 9, 10, 11, 12, 16, 15, 14, 13};
    for (int i = 0; i < 16; ++i) EXPECT_EQ(tileDrawOrder[i], expected[i]);
}

// A root with placeholders i/1..32.jpg and thumbnails of list 1 and 2 for
// channels 1..16, and the tile path files naming them.
class RefreshTest : public ::testing::Test {
protected:
    void SetUp() override {
        ensureGlContext();
        for (int k = 1; k <= 32; ++k) writeSolidJpeg(placeholderPath(k), 16, 8, 10, 10, 10);
        for (int list = 1; list <= 2; ++list)
            for (int k = 1; k <= 16; ++k) {
                writeSolidJpeg(thumbnailPath(list, k), 16, 8, 200, 0, 0);
                writeText(tilePathFile(list, k), thumbnailPath(list, k));
            }
        for (int list = 1; list <= 2; ++list)
            for (int k = 1; k <= 16; ++k) {
                tileTextures[list][k] = loadTexture(placeholderPath(k + 16 * (list - 1)));
                thumbnailRefresh[list][k] = false;
            }
        currentList = 1;
    }
    void TearDown() override { resetWall(); }
    static std::string shown(int list, int tile) {
        return tileTextures[list][tile] ? tileTextures[list][tile]->name : "(none)";
    }
    ScratchRoot root;
};

TEST_F(RefreshTest, ReplacesOneTilePerFrameInOrder) {
    thumbnailRefresh[1][1] = true;
    for (int frame = 1; frame <= 16; ++frame) {
        advanceThumbnailRefresh(1);
        for (int tile = 1; tile <= 16; ++tile)
            EXPECT_EQ(shown(1, tile),
                      tile <= frame ? thumbnailPath(1, tile) : placeholderPath(tile))
                << "frame " << frame << " tile " << tile;
    }
    for (int tile = 1; tile <= 16; ++tile) EXPECT_FALSE(thumbnailRefresh[1][tile]);
    long decodes = decodeCount;
    advanceThumbnailRefresh(1);  // the refresh has ended: nothing more happens
    EXPECT_EQ(decodeCount, decodes);
}

TEST_F(RefreshTest, ASecondWaveRunsAlongsideTheFirst) {
    thumbnailRefresh[1][1] = true;
    for (int frame = 0; frame < 5; ++frame) advanceThumbnailRefresh(1);
    thumbnailRefresh[1][1] = true;
    long before = decodeCount;
    advanceThumbnailRefresh(1);
    EXPECT_EQ(decodeCount - before, 2) << "tile 6 (first wave) and tile 1 (second wave)";
    EXPECT_TRUE(thumbnailRefresh[1][2]);
    EXPECT_TRUE(thumbnailRefresh[1][7]);
    int frames = 1;
    while (thumbnailRefresh[1][16] || [] {
        for (int k = 1; k <= 16; ++k)
            if (thumbnailRefresh[1][k]) return true;
        return false;
    }()) {
        advanceThumbnailRefresh(1);
        ++frames;
    }
    EXPECT_EQ(frames, 16) << "the second wave ends 16 frames after it started";
}

TEST_F(RefreshTest, OnlyTheCurrentListAdvances) {
    thumbnailRefresh[2][1] = true;
    currentList = 1;
    Model* savedTile = tileModel;
    Model* savedSelection = selectionModel;
    tileModel = nullptr;
    selectionModel = nullptr;
    writeFile(stateFile("b.txt"), "1");
    writeFile(stateFile("u.txt"), "1");
    for (int frame = 0; frame < 3; ++frame) drawWall();
    EXPECT_TRUE(thumbnailRefresh[2][1]);
    EXPECT_EQ(shown(2, 1), placeholderPath(17));
    currentList = 2;
    drawWall();
    EXPECT_EQ(shown(2, 1), thumbnailPath(2, 1));
    EXPECT_TRUE(thumbnailRefresh[2][2]);
    tileModel = savedTile;
    selectionModel = savedSelection;
}

TEST_F(RefreshTest, AThumbnailThatCannotBeLoadedShowsThePlaceholder) {
    std::remove(thumbnailPath(1, 2).c_str());
    writeFile(thumbnailPath(1, 3), "not a jpeg at all");
    writeText(tilePathFile(1, 4), "");
    writeText(tilePathFile(1, 5), "VESTRALUME/1/_odd.Quillon");  // read back as "VESTRALUME/1/"
    thumbnailRefresh[1][1] = true;
    testing::internal::CaptureStdout();
    for (int frame = 0; frame < 16; ++frame) advanceThumbnailRefresh(1);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(shown(1, 1), thumbnailPath(1, 1));
    for (int tile : {2, 3, 4, 5}) EXPECT_EQ(shown(1, tile), placeholderPath(tile)) << tile;
    EXPECT_EQ(shown(1, 6), thumbnailPath(1, 6));
    EXPECT_NE(out.find("Impossível carregar arquivo JPG: VESTRALUME/1/2.Quillon"), std::string::npos)
        << out;
    EXPECT_NE(out.find("Impossível carregar arquivo JPG: VESTRALUME/1/3.Quillon"), std::string::npos);
}

TEST_F(RefreshTest, ATextureSharedByBothListsSurvivesTheOtherListsRefresh) {
    // List 2's tile 1 shows the same placeholder as list 1's tile 1.
    Texture* shared = tileTextures[1][1];
    discardTexture(tileTextures[2][1]);
    tileTextures[2][1] = loadTexture(placeholderPath(1));
    ASSERT_EQ(tileTextures[2][1], shared);
    thumbnailRefresh[2][1] = true;
    advanceThumbnailRefresh(2);
    EXPECT_EQ(shown(2, 1), thumbnailPath(2, 1));
    ASSERT_EQ(findTextureIndex(placeholderPath(1)) >= 0, true);
    EXPECT_EQ(tileTextures[1][1]->name, placeholderPath(1));
    EXPECT_TRUE(glIsTexture(static_cast<GLuint>(tileTextures[1][1]->id)));
}

}  // namespace
