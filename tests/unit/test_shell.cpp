// The application shell: dragging the camera, clicking and wheeling on the
// wall, and reshaping the window.
#include <gtest/gtest.h>

#include <GL/freeglut.h>
#include <cmath>

#include <map>
#include <string>
#include <vector>

#include "app/shell.h"
#include "launch/launch.h"
#include "scene/placement.h"
#include "scene/wall.h"
#include "state/catalogue.h"
#include "state/state_files.h"
#include "tests/support/address_recorder.h"
#include "tests/support/gl_context.h"
#include "tests/support/scratch.h"

namespace {

void resetCamera() {
    cameraPitch = cameraYaw = 0;
    dragAnchorX = dragAnchorY = 0;
    dragAnchorPitch = dragAnchorYaw = 0;
}

TEST(Mouse, DraggingTurnsTheCameraByAFifthOfADegreePerPixel) {
    ensureGlContext();
    resetCamera();
    cameraYaw = 3;
    cameraPitch = -2;
    onMouse(GLUT_LEFT_BUTTON, GLUT_DOWN, 100, 200);
    EXPECT_EQ(dragAnchorX, 100);
    EXPECT_EQ(dragAnchorY, 200);
    onMotion(150, 225);  // 50 right, 25 down
    EXPECT_FLOAT_EQ(cameraYaw, 13);
    EXPECT_FLOAT_EQ(cameraPitch, 3);
    onMotion(99, 199);  // one pixel left of and above the anchor
    EXPECT_FLOAT_EQ(cameraYaw, static_cast<float>(3 - 0.2));
    EXPECT_FLOAT_EQ(cameraPitch, static_cast<float>(-2 - 0.2));
    // Releasing the button leaves the angles where the last motion put them.
    onMouse(GLUT_LEFT_BUTTON, GLUT_UP, 500, 500);
    EXPECT_FLOAT_EQ(cameraYaw, static_cast<float>(3 - 0.2));
    EXPECT_EQ(dragAnchorX, 100);
}

TEST(Mouse, OtherButtonsTurnFromTheLastLeftButtonAnchor) {
    ensureGlContext();
    resetCamera();
    // Never anchored: the anchor is (0, 0) with both angles 0.
    onMouse(GLUT_RIGHT_BUTTON, GLUT_DOWN, 40, 60);
    EXPECT_EQ(dragAnchorX, 0);
    onMotion(40, 60);
    EXPECT_FLOAT_EQ(cameraYaw, 8);
    EXPECT_FLOAT_EQ(cameraPitch, 12);
    onMouse(GLUT_LEFT_BUTTON, GLUT_DOWN, 10, 10);
    onMouse(GLUT_MIDDLE_BUTTON, GLUT_DOWN, 500, 500);
    onMotion(0, 20);
    EXPECT_FLOAT_EQ(cameraYaw, 8 - 2);
    EXPECT_FLOAT_EQ(cameraPitch, 12 + 2);
}

TEST(Mouse, AnglesAreNeitherLimitedNorWrapped) {
    EXPECT_FLOAT_EQ(dragAngle(0, 0, 5000), 1000);
    EXPECT_FLOAT_EQ(dragAngle(350, 0, 100), 370);
    EXPECT_FLOAT_EQ(dragAngle(0, 5000, 0), -1000);
    // The division is made in double precision: 0.2 per pixel exactly as a
    // double, rounded once to a float.
    EXPECT_EQ(dragAngle(0.1f, 0, 1), static_cast<float>(0.1f + 0.2));
}

std::string page(int first) {
    std::vector<int> numbers;
    for (int i = 0; i < 16; ++i) numbers.push_back(first + i);
    return formatIntList(numbers);
}

// The test window shaped as the program shapes its own, a data root without
// images (builds leave the tiles empty) at a wall scale that shows the whole
// wall in it, the page starting at 1 with tile 6 selected, and a URL
// directory in which channel N has link number N.
class MouseOnTheWall : public testing::Test {
protected:
    void SetUp() override {
        ensureGlContext();
        resetWall();
        resetCamera();
        onReshape(glutGet(GLUT_WINDOW_WIDTH), glutGet(GLUT_WINDOW_HEIGHT));
        writeFile(stateFile("u.txt"), "1.2");
        writeFile(stateFile("z1.txt"), page(1));
        writeFile(stateFile("b.txt"), "6");
        writeFile(stateFile("nn.txt"), "0");
        writeFile(stateFile("1c.txt"), "1");
        writeFile(stateFile("2c.txt"), "1");
        writeFile(stateFile("h.txt"), "5");
        std::string directory;
        for (int n = 1; n <= 16; ++n) {
            writeFile(linkPath(1, n), std::to_string(n));
            directory += std::to_string(n) + "\thttps://video.example/" + std::to_string(n) + "\n";
        }
        writeFile(urlDirectoryFile, directory);
        loadUrlDirectory();
        // Where each tile shows, and a place beside the wall.
        const WallView view = {glutGet(GLUT_WINDOW_WIDTH), glutGet(GLUT_WINDOW_HEIGHT), fieldOfView,
                               aspectRatio};
        std::map<int, std::vector<std::pair<int, int>>> pixels;
        for (int y = 0; y < view.height; ++y)
            for (int x = 0; x < view.width; ++x)
                pixels[tileAtPixel(view, 1.2f, deliveredTileOutline, x, y)].push_back({x, y});
        for (int tile = 0; tile <= 16; ++tile) {
            ASSERT_FALSE(pixels[tile].empty()) << "tile " << tile << " shows in the window";
            where[tile] = pixels[tile][pixels[tile].size() / 2];
        }
    }
    void TearDown() override {
        opened.drain();
        resetWall();
    }

    void click(int tile) const {
        const auto [x, y] = where[tile];
        onMouse(GLUT_LEFT_BUTTON, GLUT_DOWN, x, y);
        onMouse(GLUT_LEFT_BUTTON, GLUT_UP, x, y);
    }

    static void wheel(int button) {
        onMouse(button, GLUT_DOWN, 10, 10);
        onMouse(button, GLUT_UP, 10, 10);
    }

    ScratchRoot root;
    AddressRecorder opened{root.folder()};
    std::pair<int, int> where[17];  // a pixel of each tile; [0] beside the wall
};

TEST_F(MouseOnTheWall, AClickSelectsTheSelectableTileUnderThePointer) {
    for (int tile : {1, 2, 3, 4, 8, 7, 6, 5, 9, 10, 11, 12}) {
        click(tile);
        EXPECT_EQ(readInt(stateFile("b.txt")), tile);
        EXPECT_EQ(tileUnderPointer(where[tile].first, where[tile].second), tile);
    }
    // Tiles of the bottom row and the space beside the wall select nothing.
    for (int tile : {13, 14, 15, 16, 0}) {
        click(tile);
        EXPECT_EQ(readInt(stateFile("b.txt")), 12) << "tile " << tile;
    }
    EXPECT_EQ(readFile(stateFile("z1.txt")), page(1)) << "a click scrolls nothing";
    EXPECT_EQ(readInt(stateFile("1c.txt")), 1) << "nor builds";
    EXPECT_EQ(readInt(stateFile("2c.txt")), 1);
    EXPECT_EQ(opened.drain(), std::vector<std::string>{});
}

TEST_F(MouseOnTheWall, ADragTurnsTheCameraAndSelectsNothing) {
    const auto [x, y] = where[3];
    onMouse(GLUT_LEFT_BUTTON, GLUT_DOWN, x, y);
    onMotion(x + 40, y);
    EXPECT_FLOAT_EQ(cameraYaw, 8);
    onMotion(x, y);  // back where it started: still a drag
    onMouse(GLUT_LEFT_BUTTON, GLUT_UP, x, y);
    EXPECT_EQ(readInt(stateFile("b.txt")), 6);
    // A pointer that wanders within a few pixels still clicks.
    onMouse(GLUT_LEFT_BUTTON, GLUT_DOWN, x, y);
    onMotion(x + 2, y - 2);
    onMouse(GLUT_LEFT_BUTTON, GLUT_UP, x + 2, y - 2);
    EXPECT_EQ(readInt(stateFile("b.txt")), 3);
}

TEST_F(MouseOnTheWall, ADoubleClickOpensTheTileAsEnterDoes) {
    click(7);
    EXPECT_EQ(opened.drain(), std::vector<std::string>{});
    click(7);
    EXPECT_EQ(opened.drain(), std::vector<std::string>{"https://video.example/7"});
    EXPECT_EQ(readFile(stateFile("h.txt")), readFile(stateFile("6.txt"))) << "the launch counter";
    // Clicks on two tiles, or on the bottom row, open nothing.
    click(10);
    click(11);
    click(14);
    click(14);
    EXPECT_EQ(opened.drain(), std::vector<std::string>{});
    EXPECT_EQ(readInt(stateFile("b.txt")), 11);
}

TEST_F(MouseOnTheWall, TheWheelScrollsOneRowANotch) {
    wheel(4);
    EXPECT_EQ(readFile(stateFile("z1.txt")), page(5));
    EXPECT_EQ(readInt(stateFile("nn.txt")), 1);
    wheel(4);
    EXPECT_EQ(readFile(stateFile("z1.txt")), page(9));
    EXPECT_EQ(readInt(stateFile("2c.txt")), 3) << "one build a notch";
    wheel(3);
    EXPECT_EQ(readFile(stateFile("z1.txt")), page(5));
    EXPECT_EQ(readInt(stateFile("nn.txt")), 2);
    wheel(3);
    wheel(3);
    EXPECT_EQ(readFile(stateFile("z1.txt")), page(1)) << "the first page stays";
    EXPECT_EQ(readInt(stateFile("b.txt")), 6) << "the selection stays";
    // Sideways notches do nothing.
    wheel(5);
    wheel(6);
    EXPECT_EQ(readFile(stateFile("z1.txt")), page(1));
}

TEST(Reshape, KeepsViewportAndAspectInStep) {
    ensureGlContext();
    const struct {
        int width, height;
        float aspect;
        int viewportHeight;
    } cases[] = {
        {1920, 1080, 1920.0f / 1080.0f, 1080},
        {1920, 0, 1920.0f, 1},
        {1, 3, 1.0f / 3.0f, 3},
        {0, 0, 0.0f, 1},
    };
    for (const auto& c : cases) {
        onReshape(c.width, c.height);
        EXPECT_FLOAT_EQ(aspectRatio, c.aspect) << c.width << "x" << c.height;
        GLint viewport[4];
        glGetIntegerv(GL_VIEWPORT, viewport);
        EXPECT_EQ(viewport[2], c.width);
        EXPECT_EQ(viewport[3], c.viewportHeight);
        GLint mode;
        glGetIntegerv(GL_MATRIX_MODE, &mode);
        EXPECT_EQ(mode, GL_MODELVIEW) << "the projection leaves the modelview matrix current";
    }
    EXPECT_FLOAT_EQ(windowAspect(1920, 0), 1920);
}

TEST(Reshape, LoadsTheSixtyDegreePerspective) {
    ensureGlContext();
    onReshape(1600, 800);
    GLfloat projection[16];
    glGetFloatv(GL_PROJECTION_MATRIX, projection);
    const double f = 1.0 / std::tan(30.0 * M_PI / 180.0);
    EXPECT_NEAR(projection[0], f / 2.0, 1e-5);  // aspect 2
    EXPECT_NEAR(projection[5], f, 1e-5);
    EXPECT_NEAR(projection[11], -1, 1e-6);
}

}  // namespace
