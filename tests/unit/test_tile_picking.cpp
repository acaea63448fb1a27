// Which tile a window pixel shows: the pick follows a pixel back through the
// projection onto the wall, and must agree with where OpenGL itself puts the
// tiles' corners when the wall is drawn with the same matrices, at every
// placement band and window shape.
#include <gtest/gtest.h>

#include <GL/gl.h>
#include <GL/glu.h>
#include <cmath>
#include <string>

#include "app/shell.h"
#include "assets/model.h"
#include "scene/placement.h"
#include "tests/support/gl_context.h"

namespace {

struct WindowPoint {
    double x, y;  // y from the top, as the pointer is reported
};

// Projects a point of tile `tile` (in wall units around its origin) the way
// the wall draws it: identity modelview, the lift, the band offset, the
// scale, then the tile's own move, all as single-precision translations.
WindowPoint projectTilePoint(int width, int height, float s, int tile, double u, double v) {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(fieldOfView, windowAspect(width, height), 0.1, 1000000);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glTranslatef(0, static_cast<float>(wallLift), 0);
    float offset[3];
    wallBandOffset(wallPlacementBand(s), offset);
    glTranslatef(offset[0], offset[1], offset[2]);
    glScalef(s, s, s);
    glTranslatef(static_cast<float>(tileSpacingX * tileColumn(tile)),
                 static_cast<float>(-tileSpacingY * tileRow(tile)), 0);
    GLdouble modelview[16], projection[16];
    glGetDoublev(GL_MODELVIEW_MATRIX, modelview);
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
    glLoadIdentity();
    const GLint viewport[4] = {0, 0, width, height};
    GLdouble x = 0, y = 0, z = 0;
    EXPECT_TRUE(gluProject(u, v, 0, modelview, projection, viewport, &x, &y, &z));
    return {x, height - y};
}

TEST(TilePicking, AgreesWithTheProjectedCornersOfEveryTile) {
    ensureGlContext();
    const struct {
        int width, height;
    } windows[] = {{1920, 1080}, {1280, 1024}, {800, 1200}, {3840, 2160}, {640, 360}};
    // One scale in each of several bands, and one above them all.
    const float scales[] = {1.79f, 1.55f, 2.05f, 2.35f, 1.65f, 4.0f};
    const TileOutline outline = deliveredTileOutline;
    for (const auto& window : windows)
        for (float s : scales) {
            const WallView view = {window.width, window.height, fieldOfView,
                                   windowAspect(window.width, window.height)};
            for (int tile = 1; tile <= 16; ++tile) {
                const std::string where = std::to_string(window.width) + "x" +
                                          std::to_string(window.height) + " scale " +
                                          std::to_string(s) + " tile " + std::to_string(tile);
                const WindowPoint low =
                    projectTilePoint(window.width, window.height, s, tile, outline.left, outline.top);
                const WindowPoint high = projectTilePoint(window.width, window.height, s, tile,
                                                          outline.right, outline.bottom);
                // Pixels whose centres lie 1.5 pixels inside and outside the
                // projected edges.
                const int inLeft = static_cast<int>(std::ceil(low.x + 1));
                const int inRight = static_cast<int>(std::floor(high.x - 1)) - 1;
                const int inTop = static_cast<int>(std::ceil(low.y + 1));
                const int inBottom = static_cast<int>(std::floor(high.y - 1)) - 1;
                const int outLeft = static_cast<int>(std::floor(low.x - 1)) - 1;
                const int outRight = static_cast<int>(std::ceil(high.x + 1));
                const int outTop = static_cast<int>(std::floor(low.y - 1)) - 1;
                const int outBottom = static_cast<int>(std::ceil(high.y + 1));
                for (int x : {inLeft, inRight, (inLeft + inRight) / 2})
                    for (int y : {inTop, inBottom, (inTop + inBottom) / 2})
                        EXPECT_EQ(tileAtPixel(view, s, outline, x, y), tile) << where;
                for (int y : {inTop, inBottom}) {
                    EXPECT_NE(tileAtPixel(view, s, outline, outLeft, y), tile) << where;
                    EXPECT_NE(tileAtPixel(view, s, outline, outRight, y), tile) << where;
                }
                for (int x : {inLeft, inRight}) {
                    EXPECT_NE(tileAtPixel(view, s, outline, x, outTop), tile) << where;
                    EXPECT_NE(tileAtPixel(view, s, outline, x, outBottom), tile) << where;
                }
            }
        }
}

TEST(TilePicking, NoTileBesideTheWallOrWithoutAWall) {
    const WallView view = {1920, 1080, 60, 1920.0 / 1080.0};
    // At the installed scale the wall leaves the window's corners and edges
    // empty.
    for (const auto& [x, y] : {std::pair{0, 0}, std::pair{1919, 0}, std::pair{0, 1079},
                               std::pair{1919, 1079}, std::pair{960, 2}})
        EXPECT_EQ(tileAtPixel(view, 1.79, deliveredTileOutline, x, y), 0) << x << "," << y;
    // A scale of 0 collapses the wall; outside the bands (negative, 100 and
    // more) it lies in the eye's own plane; a window not yet shaped has no
    // projection.
    EXPECT_EQ(tileAtPixel(view, 0, deliveredTileOutline, 960, 540), 0);
    EXPECT_EQ(tileAtPixel(view, -1.79, deliveredTileOutline, 960, 540), 0);
    EXPECT_EQ(tileAtPixel(view, 100, deliveredTileOutline, 960, 540), 0);
    EXPECT_EQ(tileAtPixel(view, NAN, deliveredTileOutline, 960, 540), 0);
    EXPECT_EQ(tileAtPixel({1920, 1080, 60, 0}, 1.79, deliveredTileOutline, 960, 540), 0);
    EXPECT_EQ(tileAtPixel({0, 0, 60, 1}, 1.79, deliveredTileOutline, 0, 0), 0);
}

TEST(TilePicking, TheOutlineIsTheTileModelsFront) {
    const char* text =
        "v -2 -1 0\nv 4 -1 0\nv 4 3 0.5\nv -2 3 -0.5\nvt 0 0\nf 1/1 2/1 3/1 4/1\n";
    Model* model = parseModel(text, [](const std::string&) { return -1; },
                              [](const std::string&) {});
    ASSERT_NE(model, nullptr);
    const TileOutline outline = modelOutline(*model);
    EXPECT_EQ(outline.left, -2);
    EXPECT_EQ(outline.right, 4);
    EXPECT_EQ(outline.bottom, -1);
    EXPECT_EQ(outline.top, 3);
    EXPECT_EQ(modelOutline(Model()).right, deliveredTileOutline.right);
    delete model;
}

}  // namespace
