// When the wall is drawn: a frame only when its picture would change, the
// frames a thumbnail refresh needs, no frame at all for a wall at rest, and
// at rest the picture further frames would draw.
#include <gtest/gtest.h>

#include <GL/freeglut.h>
#include <GL/glx.h>
#include <X11/Xutil.h>
#include <chrono>
#include <cstdio>
#include <functional>
#include <cmath>
#include <thread>
#include <vector>

#include "app/frames.h"
#include "app/shell.h"
#include "app/tile_watch.h"
#include "assets/texture.h"
#include "nav/keys.h"
#include "nav/page.h"
#include "scene/wall.h"
#include "state/catalogue.h"
#include "state/state_files.h"
#include "tests/support/gl_context.h"
#include "tests/support/scratch.h"
#include "cards/jpeg_writer.h"

namespace {

FrameState restingWall() {
    FrameState state;
    state.list = 1;
    state.selectedTile = 6;
    state.wallScale = 2.0f;
    for (int tile = 1; tile <= 16; ++tile) state.tiles[tile] = 100 + tile;
    state.selection = 40;
    state.aspectRatio = 16.0f / 9.0f;
    return state;
}

TEST(FrameDue, OnlyAChangedPictureOrARunningRefreshNeedsAFrame) {
    const FrameState drawn = restingWall();
    EXPECT_TRUE(frameDue(nullptr, drawn)) << "nothing drawn yet";
    EXPECT_FALSE(frameDue(&drawn, drawn)) << "a wall at rest";

    const struct {
        const char* what;
        void (*change)(FrameState&);
        bool due;
    } cases[] = {
        {"another selected tile", [](FrameState& s) { s.selectedTile = 7; }, true},
        {"b.txt without a value", [](FrameState& s) { s.selectedTile.reset(); }, true},
        {"another wall scale", [](FrameState& s) { s.wallScale = 2.05f; }, true},
        {"u.txt without a value", [](FrameState& s) { s.wallScale.reset(); }, true},
        {"the other list", [](FrameState& s) { s.list = 2; }, true},
        {"a tile's texture loaded anew", [](FrameState& s) { s.tiles[16] = 999; }, true},
        {"a tile without a texture", [](FrameState& s) { s.tiles[1] = 0; }, true},
        {"another selection texture", [](FrameState& s) { s.selection = 41; }, true},
        {"the camera pitched", [](FrameState& s) { s.cameraPitch = 0.2f; }, true},
        {"the camera turned", [](FrameState& s) { s.cameraYaw = -0.2f; }, true},
        {"the window reshaped", [](FrameState& s) { s.aspectRatio = 1; }, true},
        {"a thumbnail refresh running", [](FrameState& s) { s.refreshRunning = true; }, true},
        {"b.txt rewritten with its value", [](FrameState& s) { s.selectedTile = 6; }, false},
        {"u.txt rewritten as 2.0", [](FrameState& s) { s.wallScale = 2.0f; }, false},
    };
    for (const auto& c : cases) {
        FrameState now = drawn;
        c.change(now);
        EXPECT_EQ(frameDue(&drawn, now), c.due) << c.what;
    }

    // The first frame is drawn lit and the second not, so the first never
    // stays on screen.
    FrameState first = drawn;
    first.lit = true;
    EXPECT_TRUE(frameDue(&first, drawn));

    // A scale that reads as NaN is the same picture the next time.
    FrameState nan = drawn;
    nan.wallScale = std::nanf("");
    EXPECT_FALSE(frameDue(&nan, nan));
}

TEST(FrameDue, FreedMemoryGoesBackOnceTheWallHasRested) {
    EXPECT_FALSE(givingBackDue(40, 40, 60000)) << "no frame since the last time";
    EXPECT_FALSE(givingBackDue(41, 40, restBeforeGivingBackMilliseconds - 1)) << "a held key's pause";
    EXPECT_TRUE(givingBackDue(41, 40, restBeforeGivingBackMilliseconds));
    EXPECT_TRUE(givingBackDue(1, 0, 5000));
}

TEST(FrameDue, SwapControlExtensionsAreFoundByWholeName) {
    const char* list = "GLX_ARB_create_context GLX_EXT_swap_control_tear GLX_MESA_swap_control GLX_SGI_video_sync";
    EXPECT_TRUE(hasExtension(list, "GLX_MESA_swap_control"));
    EXPECT_TRUE(hasExtension(list, "GLX_ARB_create_context"));
    EXPECT_TRUE(hasExtension(list, "GLX_SGI_video_sync"));
    EXPECT_FALSE(hasExtension(list, "GLX_EXT_swap_control")) << "only a longer name starts so";
    EXPECT_FALSE(hasExtension(list, "GLX_SGI_swap_control"));
    EXPECT_FALSE(hasExtension(list, "swap_control"));
    EXPECT_FALSE(hasExtension(list, ""));
    EXPECT_FALSE(hasExtension(nullptr, "GLX_MESA_swap_control"));
    EXPECT_TRUE(hasExtension("GLX_EXT_swap_control", "GLX_EXT_swap_control"));
}

// The real display and timer in the toolkit's event loop, on a small data
// root: a tile model with a textured face and an untextured strip (which
// shows the difference between the lit first frame and the later ones).
class RestingWall : public testing::Test {
protected:
    void SetUp() override {
        ensureGlContext();
        // Away from the corner where the windows of other test programs on
        // the same display open and close: covering and uncovering this one
        // would expose it, and an exposed window is drawn again.
        glutPositionWindow(1200, 700);
        resetWall();
        for (int k = 1; k <= 32; ++k) writeSolidJpeg(placeholderPath(k), 16, 8, 20, 20, 20);
        writeSolidJpeg(dataRoot + "t/b.jpg", 16, 8, 250, 250, 0);
        for (int n = 1; n <= 24; ++n)
            writeSolidJpeg(thumbnailPath(1, n), 16, 8, static_cast<unsigned char>(10 * n), 90, 200);
        for (int tile = 1; tile <= 16; ++tile) writeText(tilePathFile(1, tile), thumbnailPath(1, tile));
        const std::string quad = "v -3 -1.6 0\nv 3 -1.6 0\nv 3 1.6 0\nv -3 1.6 0\n"
                                 "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\n";
        writeFile(stateFile("rp.txt"), quad + "v -3 -1.85 0\nv 3 -1.85 0\nv 3 -1.65 0\nv -3 -1.65 0\n"
                                              "f 1/1 2/2 3/3 4/4\nf 5 6 7 8\n");
        writeFile(stateFile("mp.txt"), "v -3 1.65 0.1\nv 3 1.65 0.1\nv 3 1.85 0.1\nv -3 1.85 0.1\n"
                                       "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nf 1/1 2/2 3/3 4/4\n");
        writeFile(stateFile("b.txt"), "2");
        writeFile(stateFile("u.txt"), "0.5");
        writeFile(stateFile("z1.txt"), formatIntList({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}));
        writeFile(stateFile("nn.txt"), "1");
        writeFile(stateFile("2c.txt"), "1");

        testing::internal::CaptureStdout();  // the model loader's report
        const bool setUp = setupScene();
        testing::internal::GetCapturedStdout();
        ASSERT_TRUE(setUp);
        framesDrawn = 0;
        glutDisplayFunc(onDisplay);
        onReshape(256, 256);
        glutTimerFunc(statePollMilliseconds, onTimer, 0);
    }
    void TearDown() override { resetWall(); }

    // Runs the toolkit's event loop for a while; the frames drawn meanwhile.
    static long runFor(int milliseconds) {
        const long before = framesDrawn;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        while (std::chrono::steady_clock::now() < end) {
            glutMainLoopEvent();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return framesDrawn - before;
    }

    // Runs the event loop until no frame came for a while.
    static void settle() {
        for (int round = 0; round < 100 && runFor(150) > 0; ++round) {
        }
    }

    // The window as the X server shows it, as RGB rows.
    static std::vector<unsigned char> screen() {
        glFinish();
        Display* display = glXGetCurrentDisplay();
        const GLXDrawable window = glXGetCurrentDrawable();
        XSync(display, False);
        XImage* image = XGetImage(display, window, 0, 0, 256, 256, AllPlanes, ZPixmap);
        std::vector<unsigned char> rgb;
        if (!image) return rgb;
        for (int y = 0; y < 256; ++y)
            for (int x = 0; x < 256; ++x) {
                const unsigned long pixel = XGetPixel(image, x, y);
                rgb.push_back(static_cast<unsigned char>((pixel & image->red_mask) >> 16));
                rgb.push_back(static_cast<unsigned char>((pixel & image->green_mask) >> 8));
                rgb.push_back(static_cast<unsigned char>(pixel & image->blue_mask));
            }
        XDestroyImage(image);
        return rgb;
    }

    ScratchRoot root;
};

TEST_F(RestingWall, DrawsWhatChangesAndNothingAtRest) {
    settle();
    // The start-up refresh's 16 frames (the first one lit) and the one
    // showing its last tile.
    EXPECT_GE(framesDrawn, 17);
    for (int tile = 1; tile <= 16; ++tile) EXPECT_EQ(tileTextures[1][tile]->name, thumbnailPath(1, tile));
    EXPECT_EQ(runFor(300), 0) << "a wall at rest is drawn again";

    // What rests on screen is what the frames that used to keep coming draw.
    const std::vector<unsigned char> resting = screen();
    size_t lit = 0;
    for (size_t i = 0; i < resting.size(); i += 3) lit += resting[i] + resting[i + 1] + resting[i + 2] > 0;
    EXPECT_GT(lit, 1000u) << "the wall is on screen";
    ASSERT_EQ(resting.size(), 256u * 256 * 3);
    for (int frame = 0; frame < 3; ++frame) {
        onDisplay();
        EXPECT_TRUE(screen() == resting) << "frame " << frame << " after rest differs";
    }
    runFor(50);

    // An outside change of b.txt: one frame. The same text again, or the same
    // value written differently: none.
    writeFile(stateFile("b.txt"), "3");
    EXPECT_EQ(runFor(200), 1);
    EXPECT_FALSE(screen() == resting);
    writeFile(stateFile("b.txt"), "3");
    writeFile(stateFile("u.txt"), "0.50");
    EXPECT_EQ(runFor(200), 0);
    writeFile(stateFile("u.txt"), "0.55");
    EXPECT_EQ(runFor(200), 1);

    // A key that builds a page: frames until the new page is on screen, then
    // none.
    onSpecialKey(GLUT_KEY_PAGE_DOWN, 0, 0);
    EXPECT_GE(runFor(200), 1);
    EXPECT_EQ(tileTextures[1][1]->name, thumbnailPath(1, 5));
    EXPECT_EQ(runFor(300), 0);

    // Turning the camera draws; reshaping the window draws.
    onMouse(GLUT_LEFT_BUTTON, GLUT_DOWN, 10, 10);
    onMotion(40, 10);
    EXPECT_GE(runFor(100), 1);
    onReshape(256, 256);
    EXPECT_EQ(runFor(100), 1);
    EXPECT_EQ(runFor(200), 0);
}

// A thumbnail replaced the way every writer of the root replaces a file: a
// temporary file beside it renamed over it.
void replaceThumbnail(const std::string& path, unsigned char red, unsigned char green, unsigned char blue) {
    const std::string::size_type slash = path.rfind('/');
    const std::string temporary = path.substr(0, slash + 1) + "." + path.substr(slash + 1) + ".1.tmp";
    ASSERT_TRUE(writeSolidJpeg(temporary, 16, 8, red, green, blue));
    ASSERT_EQ(std::rename(temporary.c_str(), path.c_str()), 0);
}

size_t pixelsOfColour(const std::vector<unsigned char>& rgb, int red, int green, int blue) {
    size_t count = 0;
    for (size_t i = 0; i + 2 < rgb.size(); i += 3)
        count += std::abs(rgb[i] - red) < 40 && std::abs(rgb[i + 1] - green) < 40 && std::abs(rgb[i + 2] - blue) < 40;
    return count;
}

TEST_F(RestingWall, AReplacedThumbnailIsOnScreenAtOnceAndAloneThenTheWallRestsAgain) {
    // Not where the other test of the wall at rest puts its window: run side
    // by side, one would hide the other, and a hidden window is not drawn.
    glutPositionWindow(1200, 400);
    settle();
    long serials[17];
    for (int tile = 1; tile <= 16; ++tile) serials[tile] = tileTextures[1][tile]->serial;
    EXPECT_EQ(pixelsOfColour(screen(), 250, 0, 0), 0u);

    // Renamed over: on screen within half a second, one frame, no other tile
    // decoded again.
    const auto start = std::chrono::steady_clock::now();
    replaceThumbnail(thumbnailPath(1, 6), 250, 0, 0);
    long frames = 0;
    while (tileTextures[1][6]->serial == serials[6] && std::chrono::steady_clock::now() - start < std::chrono::seconds(2))
        frames += runFor(5);
    frames += runFor(30);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_EQ(tileTextures[1][6]->name, thumbnailPath(1, 6));
    EXPECT_GT(pixelsOfColour(screen(), 250, 0, 0), 100u) << "the new picture is on screen";
    EXPECT_EQ(frames, 1);
    for (int tile = 1; tile <= 16; ++tile) {
        if (tile != 6) {
            EXPECT_EQ(tileTextures[1][tile]->serial, serials[tile]) << "tile " << tile;
        }
    }
    EXPECT_EQ(runFor(300), 0) << "the wall rests again";

    // Written in place, damaged: the placeholder; whole again: the picture.
    const struct {
        const char* what;
        std::function<void()> change;
        std::string shown;
    } changes[] = {
        {"damaged", [] { writeFile(thumbnailPath(1, 6), "not a picture"); }, placeholderPath(6)},
        {"written in place", [] { writeSolidJpeg(thumbnailPath(1, 6), 16, 8, 0, 250, 0); }, thumbnailPath(1, 6)},
        {"removed", [] { std::remove(thumbnailPath(1, 6).c_str()); }, placeholderPath(6)},
        {"back", [] { replaceThumbnail(thumbnailPath(1, 6), 250, 0, 0); }, thumbnailPath(1, 6)},
    };
    testing::internal::CaptureStdout();  // the loader's report of the damaged file
    for (const auto& c : changes) {
        c.change();
        runFor(200);
        EXPECT_EQ(tileTextures[1][6]->name, c.shown) << c.what;
    }
    testing::internal::GetCapturedStdout();

    // A file of the folder that is not on the wall draws nothing, but the
    // texture kept from an earlier page is not shown stale when the page
    // comes back.
    Texture* kept = loadTexture(thumbnailPath(1, 20));
    releaseTexture(kept);
    ASSERT_EQ(findTexture(thumbnailPath(1, 20)), kept);
    replaceThumbnail(thumbnailPath(1, 20), 250, 0, 0);
    EXPECT_EQ(runFor(200), 0);
    EXPECT_EQ(findTexture(thumbnailPath(1, 20)), nullptr);

    // A page that shows one channel on two tiles: both follow its file.
    writeFile(stateFile("z1.txt"), formatIntList({1, 2, 3, 4, 5, 9, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}));
    buildPage(1);
    settle();
    replaceThumbnail(thumbnailPath(1, 9), 0, 0, 250);
    runFor(200);
    EXPECT_EQ(tileTextures[1][6], tileTextures[1][9]);
    EXPECT_GT(pixelsOfColour(screen(), 0, 0, 250), 200u);
    EXPECT_EQ(runFor(300), 0);
}

}  // namespace
