// Drawing models into a real frame buffer: textures with and without an
// override, faces without texture coordinates or normals, the normals rule
// under lighting, materials, and the state drawModel leaves behind.
#include <gtest/gtest.h>

#include <GL/gl.h>

#include "assets/model.h"
#include "assets/texture.h"
#include "tests/support/gl_context.h"
#include "tests/support/scratch.h"
#include "tests/unit/test_texture_images.h"
#include "cards/jpeg_writer.h"

namespace {

int imageId(const std::string& path) {
    return loadTexture(path)->id;
}

const std::string square =
    "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n"
    "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\n";

// Two squares side by side: the left one is vertices 1-4, the right one 5-8,
// both with texture coordinates 1-4.
const std::string halves =
    "v 0 0 0\nv 0.5 0 0\nv 0.5 1 0\nv 0 1 0\n"
    "v 0.5 0 0\nv 1 0 0\nv 1 1 0\nv 0.5 1 0\n"
    "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\n";
const char* leftHalf = "f 1/1 2/2 3/3 4/4\n";
const char* rightHalf = "f 5/1 6/2 7/3 8/4\n";

constexpr Rgb magenta{255, 0, 255};
constexpr Rgb black{0, 0, 0};

class DrawModel : public testing::Test {
protected:
    void SetUp() override {
        ensureGlContext();
        forgetAll();
        glViewport(0, 0, 256, 256);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(0, 1, 0, 1, -1, 1);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glDisable(GL_LIGHTING);
        glDisable(GL_DEPTH_TEST);
        glDisable(GL_CULL_FACE);
        glDisable(GL_COLOR_MATERIAL);
        glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        glColor3f(1, 0, 1);
        ASSERT_TRUE(writeQuadrantJpeg("VESTRALUME/t/q.jpg", 64, 64, ImageLayout::rgb));
        ASSERT_TRUE(writeSolidJpeg("VESTRALUME/t/red.jpg", 8, 8, 255, 0, 0));
        ASSERT_TRUE(writeSolidJpeg("VESTRALUME/t/green.jpg", 8, 8, 0, 255, 0));
    }
    void TearDown() override { forgetAll(); }

    void forgetAll() {
        forgetAllTextures();
        for (Material* material : materialRegistry) delete material;
        materialRegistry.clear();
        for (Model* model : models) delete model;
        models.clear();
    }

    Model& model(const std::string& text) {
        testing::internal::CaptureStdout();
        Model* model = parseModel(text, imageId, loadMaterialLibrary);
        testing::internal::GetCapturedStdout();
        models.push_back(model);
        return *model;
    }

    // The colour drawn at (x, y) of the unit square, y up.
    static bool shows(double x, double y, Rgb expected, std::string& got) {
        glFinish();
        unsigned char rgb[3];
        readPixel(static_cast<int>(x * 256), static_cast<int>(y * 256), rgb);
        got = describe(rgb);
        return closeTo(rgb, expected, 30);
    }

    void expectShows(double x, double y, Rgb expected, const std::string& what) {
        std::string got;
        EXPECT_TRUE(shows(x, y, expected, got)) << what << " at " << x << "," << y << ": " << got;
    }

    // A white directional light from the viewer's side and nothing else.
    static void lightFromFront() {
        const float position[4] = {0, 0, 1, 0};
        const float white[4] = {1, 1, 1, 1};
        const float none[4] = {0, 0, 0, 1};
        glEnable(GL_LIGHTING);
        glEnable(GL_LIGHT0);
        glLightfv(GL_LIGHT0, GL_POSITION, position);
        glLightfv(GL_LIGHT0, GL_DIFFUSE, white);
        glLightfv(GL_LIGHT0, GL_AMBIENT, none);
        glLightfv(GL_LIGHT0, GL_SPECULAR, none);
        glLightModelfv(GL_LIGHT_MODEL_AMBIENT, none);
    }

    std::vector<Model*> models;
    ScratchRoot root;
};

TEST_F(DrawModel, TexturedQuadShowsItsImageUpright) {
    glEnable(GL_TEXTURE_2D);  // left disabled whatever it was before
    drawModel(model(square + "usemat VESTRALUME/t/q.jpg\nf 1/1 2/2 3/3 4/4\n"));
    expectShows(0.25, 0.75, topLeftColour, "top left");
    expectShows(0.75, 0.75, topRightColour, "top right");
    expectShows(0.25, 0.25, bottomLeftColour, "bottom left");
    expectShows(0.75, 0.25, bottomRightColour, "bottom right");
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(DrawModel, OverrideTexturesEveryFace) {
    Model& halvesModel = model(halves + "usemat VESTRALUME/t/red.jpg\n" + leftHalf + "usemat (null)\n" + rightHalf);
    drawModel(halvesModel);
    expectShows(0.25, 0.5, {255, 0, 0}, "own image");
    expectShows(0.75, 0.5, magenta, "no image: texturing off again");
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));

    glClear(GL_COLOR_BUFFER_BIT);
    drawModel(halvesModel, loadTexture("VESTRALUME/t/green.jpg")->id);
    expectShows(0.25, 0.5, {0, 255, 0}, "override over own image");
    expectShows(0.75, 0.5, {0, 255, 0}, "override where there is no image");
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
}

TEST_F(DrawModel, FacesWithoutTextureCoordinatesAreDrawnUntextured) {
    Model& plain = model(halves + "usemat VESTRALUME/t/red.jpg\nf 1 2 3 4\nf 5/1 6/2 7/3 8/4\n");
    drawModel(plain, loadTexture("VESTRALUME/t/green.jpg")->id);
    expectShows(0.25, 0.5, magenta, "face without texture coordinates");
    expectShows(0.75, 0.5, {0, 255, 0}, "face with them");
}

TEST_F(DrawModel, NormalsPerFaceOrPerCorner) {
    writeFile("VESTRALUME/n/white.mtl", "newmtl white\nKa 0 0 0\nKd 1 1 1\nKs 0 0 0\n");
    const std::string lit = "mtllib VESTRALUME/n/white.mtl\nusemtl white\n";
    struct Case {
        std::string text;
        Rgb left, right;
        const char* what;
    };
    const Case cases[] = {
        // No normal lines: one computed normal per face, from its winding.
        {lit + halves + "f 1 2 3 4\nf 5 8 7 6\n", {255, 255, 255}, black, "computed: towards and away"},
        // Normal lines: one normal per corner, as the file gives them.
        {lit + halves + "vn 0 0 -1\nvn 0 0 1\nf 1//1 2//1 3//1 4//1\nf 5//2 6//2 7//2 8//2\n", black,
         {255, 255, 255}, "file normals"},
        // A face without normal indices in a model with normals gets its
        // computed normal.
        {lit + halves + "vn 0 0 -1\nf 1 2 3 4\nf 5 8//1 7//1 6//1\n", {255, 255, 255}, black,
         "file normals missing on a face"},
    };
    for (const Case& c : cases) {
        glClear(GL_COLOR_BUFFER_BIT);
        lightFromFront();
        drawModel(model(c.text));
        glDisable(GL_LIGHTING);
        expectShows(0.25, 0.5, c.left, std::string(c.what) + ", left");
        expectShows(0.75, 0.5, c.right, std::string(c.what) + ", right");
    }
}

TEST_F(DrawModel, MaterialsAndTheWhiteOfFacesWithTheirOwnImage) {
    writeFile("VESTRALUME/n/m.mtl",
              "newmtl blue\nKa 0 0 0\nKd 0 0 1\nKs 0 0 0\n"
              "newmtl yellow\nKa 0 0 0\nKd 1 1 0\nKs 0 0 0\n");
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    lightFromFront();
    // Without an image the material's colour shows; a face with material -1
    // keeps the previous face's material.
    drawModel(model("mtllib VESTRALUME/n/m.mtl\n" + halves + "usemtl yellow\n" + leftHalf +
                    "usemtl unknown\n" + rightHalf));
    expectShows(0.25, 0.5, {255, 255, 0}, "material colour");
    expectShows(0.75, 0.5, {255, 255, 0}, "material of the face before");

    // A face with its own image is lit white, so the image shows in its own
    // colours; under an override, a face without an image keeps its
    // material's colour (blue times red: black).
    glClear(GL_COLOR_BUFFER_BIT);
    Model& textured = model("mtllib VESTRALUME/n/m.mtl\n" + halves + "usemtl blue\nusemat VESTRALUME/t/red.jpg\n" +
                            leftHalf + "usemtl blue\n" + rightHalf);
    drawModel(textured, loadTexture("VESTRALUME/t/red.jpg")->id);
    expectShows(0.25, 0.5, {255, 0, 0}, "own image under white");
    expectShows(0.75, 0.5, black, "override under the material's blue");
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
}

TEST_F(DrawModel, LightingStateIsTheCallersAgainAfterwards) {
    writeFile("VESTRALUME/n/m.mtl", "newmtl blue\nKa 0 0 0\nKd 0 0 1\nKs 0 0 0\nNs 500\n");
    lightFromFront();
    glEnable(GL_COLOR_MATERIAL);
    glColorMaterial(GL_FRONT, GL_DIFFUSE);
    glColor3f(0, 1, 0);
    float before[4], after[4];
    glGetMaterialfv(GL_FRONT, GL_DIFFUSE, before);

    // Without a library the caller's colour tracking colours the model.
    drawModel(model(square + "f 1 2 3 4\n"));
    expectShows(0.5, 0.5, {0, 255, 0}, "colour tracking");
    EXPECT_TRUE(glIsEnabled(GL_COLOR_MATERIAL));

    // With one, the material's colour applies and tracking is restored after.
    glClear(GL_COLOR_BUFFER_BIT);
    drawModel(model("mtllib VESTRALUME/n/m.mtl\nusemtl blue\n" + square + "f 1 2 3 4\n"));
    expectShows(0.5, 0.5, {0, 0, 255}, "material");
    EXPECT_TRUE(glIsEnabled(GL_COLOR_MATERIAL));
    glGetMaterialfv(GL_FRONT, GL_DIFFUSE, after);
    EXPECT_EQ(std::vector<float>(before, before + 4), std::vector<float>(after, after + 4));
    float shininess = -1;
    glGetMaterialfv(GL_FRONT, GL_SHININESS, &shininess);
    EXPECT_NE(shininess, 64);
    glDisable(GL_COLOR_MATERIAL);
    glDisable(GL_LIGHTING);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

// Models put together by hand, not by the parser, with arrays shorter than
// their faces claim: drawing skips what is not there.
TEST_F(DrawModel, ShortArraysAreNeverReadPast) {
    Model broken;
    broken.hasNormals = true;
    broken.vertices = {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0};
    broken.normals = {0, 0, 1};
    broken.texcoords = {0, 0, 0};
    Face face;
    face.vertexIndices = {0, 1, 2, 3};
    face.normalIndices = {0, 5, -1, 0};
    face.texcoordIndices = {0, 9, 0, 0};
    face.material = 42;
    Face stray = face;
    stray.vertexIndices = {0, 7, 2};
    stray.normalIndices = {0};
    stray.texcoordIndices = {};
    broken.faces = {face, stray};
    const int red = loadTexture("VESTRALUME/t/red.jpg")->id;
    drawModel(broken, red);
    broken.hasNormals = false;
    broken.normals.clear();
    drawModel(broken, red);
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
}

}  // namespace
