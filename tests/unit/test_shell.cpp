// The application shell's arithmetic: dragging the camera and reshaping the
// window.
#include <gtest/gtest.h>

#include <GL/freeglut.h>
#include <cmath>

#include "app/shell.h"
#include "tests/support/gl_context.h"

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
