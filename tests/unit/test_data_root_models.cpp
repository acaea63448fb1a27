// The model files of the sample data root (data/VESTRALUME/n) load with the
// model loader as the scene loads them (paths relative to the working
// directory, a graphics context for the images they name), with the counts
// they were written with; the two drawn models carry what drawing them needs.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "assets/model.h"
#include "tests/support/gl_context.h"
#include "tests/support/scratch.h"
#include "cards/jpeg_writer.h"

namespace {

namespace fs = std::filesystem;

const std::string textRoot = std::string(QUILLON_SOURCE_DIR) + "/data/VESTRALUME";

struct ExpectedModel {
    const char* path;
    int vertices, faces, normals, texcoords;
    bool drawn;          // drawn with a texture override: texture coordinates on every face
    int texturedFaces;   // faces with an image of their own ("usemat")
    float low[3], high[3];
};

// In the order the scene loads them.
const ExpectedModel expectedModels[] = {
    {"VESTRALUME/n/w.txt", 13, 5, 2, 9, false, 4, {-40, -20, -60}, {40, 20, -40}},
    {"VESTRALUME/n/r.txt", 5, 5, 0, 0, false, 0, {-5, 0, -5}, {5, 6, 5}},
    {"VESTRALUME/n/m.txt", 12, 8, 8, 4, false, 6, {-2, 0, -1.7321f}, {2, 3, 1.7321f}},
    {"VESTRALUME/n/rp.txt", 12, 10, 10, 4, true, 0, {-3.25f, -1.85f, -0.2f}, {3.25f, 1.85f, 0.12f}},
    {"VESTRALUME/n/mp.txt", 16, 12, 0, 8, true, 0, {-3.35f, -1.95f, 0}, {3.35f, 1.95f, 0.35f}},
};

const float* vertexOf(const Model& model, int index) { return &model.vertices[index * 3]; }

class SampleModels : public testing::Test {
protected:
    static void SetUpTestSuite() {
        // The text data and the images the models name, in a working
        // directory of their own.
        scratch = new ScratchRoot();
        std::error_code code;
        fs::copy(textRoot + "/n", "VESTRALUME/n",
                 fs::copy_options::recursive | fs::copy_options::overwrite_existing, code);
        made = !code && writeSolidJpeg("VESTRALUME/t/w.jpg", 32, 32, 90, 110, 140) &&
               writeSolidJpeg("VESTRALUME/t/m.jpg", 32, 32, 200, 160, 40);
        EXPECT_TRUE(made) << code.message();
        ensureGlContext();
        testing::internal::CaptureStdout();
        for (const ExpectedModel& expected : expectedModels) models.push_back(loadModel(expected.path));
        report = testing::internal::GetCapturedStdout();
    }
    static void TearDownTestSuite() {
        delete scratch;
        scratch = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(made); }

    static ScratchRoot* scratch;
    static bool made;
    static std::vector<Model*> models;  // kept for the process, as the scene keeps them
    static std::string report;
};

ScratchRoot* SampleModels::scratch = nullptr;
bool SampleModels::made = false;
std::vector<Model*> SampleModels::models;
std::string SampleModels::report;

TEST_F(SampleModels, LoadWithTheirCountsMaterialsAndImages) {
    ASSERT_EQ(models.size(), std::size(expectedModels));
    for (size_t m = 0; m < models.size(); ++m) {
        const ExpectedModel& expected = expectedModels[m];
        SCOPED_TRACE(expected.path);
        ASSERT_NE(models[m], nullptr);
        const Model& model = *models[m];
        EXPECT_EQ(vertexCount(model), expected.vertices);
        EXPECT_EQ(faceCount(model), expected.faces);
        EXPECT_EQ(normalCount(model), expected.normals);
        EXPECT_EQ(texcoordCount(model), expected.texcoords);
        EXPECT_EQ(model.hasNormals, expected.normals > 0);
        EXPECT_TRUE(model.hasMaterialLibrary);
        int textured = 0;
        for (const Face& face : model.faces) {
            EXPECT_NE(face.material, -1) << "every face names a material of its library";
            if (face.texture != -1) ++textured;
        }
        EXPECT_EQ(textured, expected.texturedFaces);
    }
    EXPECT_NE(report.find("*** Objeto: VESTRALUME/n/mp.txt"), std::string::npos) << report;
}

TEST_F(SampleModels, DrawnModelsGiveTextureCoordinatesAndNormalsOnEveryCorner) {
    for (size_t m = 0; m < models.size(); ++m) {
        const ExpectedModel& expected = expectedModels[m];
        if (!expected.drawn) continue;
        SCOPED_TRACE(expected.path);
        const Model& model = *models[m];
        for (const Face& face : model.faces) {
            ASSERT_EQ(face.texcoordIndices.size(), static_cast<size_t>(cornerCount(face)));
            for (int t : face.texcoordIndices) {
                ASSERT_GE(t, 0);
                ASSERT_LT(t, texcoordCount(model));
            }
            if (model.hasNormals) {
                ASSERT_EQ(face.normalIndices.size(), static_cast<size_t>(cornerCount(face)));
            }
        }
    }
}

TEST_F(SampleModels, ModelsSitWithinTheirBounds) {
    for (size_t m = 0; m < models.size(); ++m) {
        const ExpectedModel& expected = expectedModels[m];
        SCOPED_TRACE(expected.path);
        const Model& model = *models[m];
        float low[3] = {1e9f, 1e9f, 1e9f}, high[3] = {-1e9f, -1e9f, -1e9f};
        for (int v = 0; v < vertexCount(model); ++v)
            for (int axis = 0; axis < 3; ++axis) {
                low[axis] = std::min(low[axis], vertexOf(model, v)[axis]);
                high[axis] = std::max(high[axis], vertexOf(model, v)[axis]);
            }
        for (int axis = 0; axis < 3; ++axis) {
            EXPECT_NEAR(low[axis], expected.low[axis], 1e-4) << "axis " << axis;
            EXPECT_NEAR(high[axis], expected.high[axis], 1e-4) << "axis " << axis;
        }
    }
}

// The tile's front face fills the thumbnail: facing the viewer, its corners
// at the image corners with v = 0 at the bottom (images are stored bottom
// row first).
TEST_F(SampleModels, TileFrontShowsTheWholeThumbnailUpright) {
    const Model& tile = *models[3];
    const Face& front = tile.faces[0];
    ASSERT_EQ(cornerCount(front), 4);
    for (int c = 0; c < 4; ++c) {
        const float* p = vertexOf(tile, front.vertexIndices[c]);
        const float* t = &tile.texcoords[front.texcoordIndices[c] * 3];
        EXPECT_FLOAT_EQ(p[2], 0.12f);
        EXPECT_FLOAT_EQ(t[0], p[0] > 0 ? 1.0f : 0.0f) << "u runs left to right";
        EXPECT_FLOAT_EQ(t[1], p[1] > 0 ? 1.0f : 0.0f) << "v runs bottom to top";
    }
    const float* n = &tile.normals[front.normalIndices[0] * 3];
    EXPECT_FLOAT_EQ(n[2], 1.0f);
}

// Without normal lines the loader computes one per face from the first three
// corners; counter-clockwise faces give normals pointing out of the model.
TEST_F(SampleModels, ComputedNormalsPointOutwards) {
    const Model& roof = *models[1];
    ASSERT_EQ(roof.faceNormals.size(), 15u);
    for (int f = 0; f < 4; ++f) EXPECT_GT(roof.faceNormals[f * 3 + 1], 0.5f) << "roof side " << f;
    EXPECT_FLOAT_EQ(roof.faceNormals[4 * 3 + 1], -1.0f) << "base faces down";

    const Model& frame = *models[4];
    ASSERT_EQ(frame.faceNormals.size(), 36u);
    for (int f = 0; f < 4; ++f) EXPECT_FLOAT_EQ(frame.faceNormals[f * 3 + 2], 1.0f) << "front strip " << f;
    for (int f = 4; f < 12; ++f) {
        const Face& face = frame.faces[f];
        const float* n = &frame.faceNormals[f * 3];
        // Walls: perpendicular to z; outer walls face away from the centre,
        // inner walls towards it.
        EXPECT_NEAR(n[2], 0.0f, 1e-6);
        const float* p = vertexOf(frame, face.vertexIndices[0]);
        const bool outer = std::fabs(std::fabs(p[0]) - 3.35f) < 1e-4 ||
                           std::fabs(std::fabs(p[1]) - 1.95f) < 1e-4;
        const float outward = n[0] * p[0] + n[1] * p[1];
        EXPECT_EQ(outward > 0, outer) << "wall " << f;
    }
}

}  // namespace
