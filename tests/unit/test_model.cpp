// Reading OBJ models and MTL libraries: face forms, the normals rule,
// materials, "usemat", line endings, the report lines, and model files that
// are broken or hostile.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "assets/model.h"
#include "assets/texture.h"
#include "platform/report.h"
#include "tests/support/gl_context.h"
#include "tests/support/scratch.h"
#include "cards/jpeg_writer.h"

namespace {

using namespace std::string_literals;

std::vector<std::string> requestedImages;
std::vector<std::string> requestedLibraries;

// Stands in for loadTexture: records the path and hands out 101, 102, ...
int recordImage(const std::string& path) {
    requestedImages.push_back(path);
    return 100 + static_cast<int>(requestedImages.size());
}

// Stands in for loadMaterialLibrary: records the path, reads nothing.
void recordLibrary(const std::string& path) {
    requestedLibraries.push_back(path);
}

void forgetMaterials() {
    for (Material* material : materialRegistry) delete material;
    materialRegistry.clear();
}

class ModelReading : public testing::Test {
protected:
    void SetUp() override {
        forgetMaterials();
        requestedImages.clear();
        requestedLibraries.clear();
    }
    void TearDown() override {
        forgetMaterials();
        for (Model* model : models) delete model;
    }

    // Parses `text` with the recording loaders; the report goes to `report`.
    Model* parse(const std::string& text) {
        testing::internal::CaptureStdout();
        Model* model = parseModel(text, recordImage, recordLibrary);
        std::fflush(stdout);
        report = testing::internal::GetCapturedStdout();
        models.push_back(model);
        return model;
    }

    Model* load(const std::string& path) {
        testing::internal::CaptureStdout();
        Model* model = loadModel(path);
        std::fflush(stdout);
        report = testing::internal::GetCapturedStdout();
        models.push_back(model);
        return model;
    }

    std::string report;
    std::vector<Model*> models;
    ScratchRoot root;
};

std::string joined(const std::vector<int>& values) {
    std::string text;
    for (int value : values) text += (text.empty() ? "" : ",") + std::to_string(value);
    return text;
}

// "v0,3,6 t1,4,7 n2,5,8": the corners' vertex, texture coordinate and normal
// positions; a missing array is left out.
std::string describe(const Face& face) {
    std::string text = "v" + joined(face.vertexIndices);
    if (!face.texcoordIndices.empty()) text += " t" + joined(face.texcoordIndices);
    if (!face.normalIndices.empty()) text += " n" + joined(face.normalIndices);
    if (static_cast<size_t>(cornerCount(face)) != face.vertexIndices.size()) text += " (corner count wrong)";
    return text;
}

std::vector<std::string> describeFaces(const Model& model) {
    std::vector<std::string> faces;
    for (const Face& face : model.faces) faces.push_back(describe(face));
    return faces;
}

// Twelve vertices, nine texture coordinates and nine normals (30 lines), so
// that a face line after them is line 31.
std::string elementLines() {
    std::string text;
    for (int i = 0; i < 12; ++i) text += "v " + std::to_string(i) + " " + std::to_string(i % 3) + " 0\n";
    for (int i = 0; i < 9; ++i) text += "vt 0." + std::to_string(i) + " 0.5\n";
    for (int i = 0; i < 9; ++i) text += "vn 0 0 1\n";
    return text;
}

struct FaceCase {
    const char* line;
    std::vector<std::string> faces;  // empty: the face is left out
    const char* reason;              // of the report line when left out
};

const FaceCase faceCases[] = {
    {"f 1/2/3 4/5/6 7/8/9", {"v0,3,6 t1,4,7 n2,5,8"}, nullptr},
    {"f 1//1 2//2 3//3", {"v0,1,2 n0,1,2"}, nullptr},
    {"f 1 2 3 4", {"v0,1,2,3"}, nullptr},
    {"f 1/1 2/2 3/3", {"v0,1,2 t0,1,2"}, nullptr},
    {"f 1/1/ 2/2/ 3/3/", {"v0,1,2 t0,1,2"}, nullptr},
    {"f 1/ 2/ 3/", {"v0,1,2"}, nullptr},
    {"f 1// 2// 3//", {"v0,1,2"}, nullptr},
    // Any run of blanks separates corners; blanks at the end are allowed.
    {"f 1  2\t3 \t ", {"v0,1,2"}, nullptr},
    {"f 1 2 3 4 5 6 7 8 9 10 11 12", {"v0,1,2,3,4,5,6,7,8,9,10,11"}, nullptr},
    // Negative indices count back from the last element read.
    {"f -3 -2 -1", {"v9,10,11"}, nullptr},
    {"f -1/-1/-1 1/1/1 2/2/2", {"v11,0,1 t8,0,1 n8,0,1"}, nullptr},
    {"f +1 +2 +3", {"v0,1,2"}, nullptr},
    // Index tokens of any length are read whole.
    {"f 00000000000000000000000000000001 2 3", {"v0,1,2"}, nullptr},
    // A component that only some corners give is not kept.
    {"f 1/1 2 3/3", {"v0,1,2"}, nullptr},
    {"f 1//1 2//2 3", {"v0,1,2"}, nullptr},
    {"f 1/1/1 2/2 3//3", {"v0,1,2"}, nullptr},
    // Faces that would make the drawing read outside an array.
    {"f 0 1 2", {}, "índice inválido"},
    {"f 1 2 13", {}, "índice inválido"},
    {"f -13 1 2", {}, "índice inválido"},
    {"f 1/10 2/1 3/1", {}, "índice inválido"},
    {"f 1/1/10 2/2/2 3/3/3", {}, "índice inválido"},
    {"f 1/0 2/1 3/1", {}, "índice inválido"},
    {"f a b c", {}, "índice inválido"},
    {"f 1x 2 3", {}, "índice inválido"},
    {"f 1.5 2 3", {}, "índice inválido"},
    {"f - 1 2", {}, "índice inválido"},
    {"f /1 2 3", {}, "índice inválido"},
    {"f 99999999999999999999 1 2", {}, "índice inválido"},
    {"f 2147483648 1 2", {}, "índice inválido"},
    {"f -2147483648 1 2", {}, "índice inválido"},
    {"f 1/1/1/1 2/2/2 3/3/3", {}, "canto com mais de três índices"},
    {"f 1 2", {}, "menos de três cantos"},
    {"f ", {}, "menos de três cantos"},
    {"f    ", {}, "menos de três cantos"},
};

TEST_F(ModelReading, FaceFormsAndUnsafeCorners) {
    for (const FaceCase& c : faceCases) {
        Model* model = parse(elementLines() + c.line + "\n");
        ASSERT_NE(model, nullptr) << c.line;
        EXPECT_EQ(describeFaces(*model), c.faces) << c.line;
        EXPECT_EQ(faceCount(*model), static_cast<int>(c.faces.size())) << c.line;
        const std::string dropped = std::string("Face ignorada na linha 31: ") + (c.reason ? c.reason : "");
        EXPECT_EQ(report.find(dropped) != std::string::npos, c.reason != nullptr) << c.line << "\n" << report;
        // The report counts the face line either way.
        EXPECT_NE(report.find("Faces:    1\n"), std::string::npos) << c.line;
    }
}

TEST_F(ModelReading, LongFaceLinesKeepEveryCorner) {
    std::string line = "f";
    std::vector<int> expected;
    for (int i = 0; i < 150; ++i) {
        line += " " + std::to_string(i % 12 + 1) + "/" + std::to_string(i % 9 + 1);
        expected.push_back(i % 12);
    }
    ASSERT_GT(line.size(), 254u);
    Model* model = parse(elementLines() + line);
    ASSERT_EQ(faceCount(*model), 1);
    EXPECT_EQ(cornerCount(model->faces[0]), 150);
    EXPECT_EQ(model->faces[0].vertexIndices, expected);
    EXPECT_EQ(model->faces[0].texcoordIndices.size(), 150u);
}

TEST_F(ModelReading, FacesMayNameVerticesOfLaterLines) {
    Model* model = parse("f 1 2 3\nv 0 0 0\nv 1 0 0\nv 0 1 0\n");
    EXPECT_EQ(describeFaces(*model), std::vector<std::string>{"v0,1,2"});
    // Counting back only reaches vertices read before the face line.
    model = parse("f -1 -2 -3\nv 0 0 0\nv 1 0 0\nv 0 1 0\n");
    EXPECT_EQ(faceCount(*model), 0);
}

TEST_F(ModelReading, ReportLinesAndElements) {
    writeFile("VESTRALUME/n/w.txt",
              "# v 9 9 9 is a comment\n"
              "g wall\n"
              "v -1 -2 -3\n"
              "v 4 5 6\n"
              "v 0.5 10 -7\n"
              "vt 0.25 0.75\n"
              "vt 1 0 0.5\n"
              "vn 0 1 0\n"
              "s off\n"
              "f 1/1/1 2/2/1 3/1/1\n");
    Model* model = load("VESTRALUME/n/w.txt");
    ASSERT_NE(model, nullptr);
    EXPECT_EQ(report,
              "*** Objeto: VESTRALUME/n/w.txt\n"
              "Vertices: 3\n"
              "Faces:    1\n"
              "Normais:  1\n"
              "Texcoords:2\n"
              "Limites: -1.000000 -2.000000 -7.000000 - 4.000000 10.000000 6.000000\n");
    EXPECT_EQ(vertexCount(*model), 3);
    EXPECT_EQ(normalCount(*model), 1);
    EXPECT_EQ(texcoordCount(*model), 2);
    EXPECT_FALSE(model->hasMaterialLibrary);
    EXPECT_EQ(model->vertices, (std::vector<float>{-1, -2, -3, 4, 5, 6, 0.5f, 10, -7}));
    EXPECT_EQ(model->texcoords, (std::vector<float>{0.25f, 0.75f, 0, 1, 0, 0.5f}));
    EXPECT_EQ(model->normals, (std::vector<float>{0, 1, 0}));
    EXPECT_EQ(model->faces[0].material, -1);
    EXPECT_EQ(model->faces[0].texture, -1);
}

TEST_F(ModelReading, MissingFileOnlyNamesItself) {
    EXPECT_EQ(load("VESTRALUME/n/none.txt"), nullptr);
    EXPECT_EQ(report, "*** Objeto: VESTRALUME/n/none.txt\n");
}

// The report lines leave through the channel the host chose, one line per
// call, levels kept; the standard streams see nothing then.
std::vector<std::pair<ReportLevel, std::string>> sunk;
void sinkReport(ReportLevel level, const std::string& text) { sunk.emplace_back(level, text); }

TEST_F(ModelReading, ReportLinesGoWhereTheHostSendsThem) {
    sunk.clear();
    setReportSink(sinkReport);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    delete parseModel("v 0 0 0\nf 1 2\n", recordImage, recordLibrary);
    reportFormatted(ReportLevel::problem, "%s %d", "problem", 7);
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    setReportSink(nullptr);
    EXPECT_EQ(out + err, "");
    const std::vector<std::pair<ReportLevel, std::string>> expected = {
        {ReportLevel::note, "Vertices: 1"},
        {ReportLevel::note, "Faces:    1"},
        {ReportLevel::note, "Normais:  0"},
        {ReportLevel::note, "Texcoords:0"},
        {ReportLevel::note, "Face ignorada na linha 2: índice inválido"},
        {ReportLevel::note, "Limites: 0.000000 0.000000 0.000000 - 0.000000 0.000000 0.000000"},
        {ReportLevel::problem, "problem 7"},
    };
    EXPECT_EQ(sunk, expected);
}

TEST_F(ModelReading, FileWithoutVerticesReportsZeroBounds) {
    Model* model = parse("# nothing but words\nf 1 2 3\n");
    EXPECT_EQ(faceCount(*model), 0);
    EXPECT_NE(report.find("Limites: 0.000000 0.000000 0.000000 - 0.000000 0.000000 0.000000\n"),
              std::string::npos);
}

TEST_F(ModelReading, FacesGetComputedNormalsWhenTheFileHasNone) {
    Model* model = parse(
        "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 2 0 0\n"
        "f 1 2 3\n"    // counter-clockwise seen from +z
        "f 1 3 2\n"    // clockwise
        "f 1 2 4\n");  // in line: no direction
    EXPECT_FALSE(model->hasNormals);
    EXPECT_EQ(normalCount(*model), 0);
    EXPECT_EQ(model->faceNormals, (std::vector<float>{0, 0, 1, 0, 0, -1, 0, 0, 0}));

    model = parse("v 0 0 0\nv 3 0 0\nv 0 5 0\nf 1 2 3\n");
    float length = std::sqrt(model->faceNormals[0] * model->faceNormals[0] +
                             model->faceNormals[1] * model->faceNormals[1] +
                             model->faceNormals[2] * model->faceNormals[2]);
    EXPECT_FLOAT_EQ(length, 1);

    model = parse("v 0 0 0\nv 1 0 0\nv 0 1 0\nvn 1 0 0\nvn 0 -1 0\nf 1//2 2//2 3//1\n");
    EXPECT_TRUE(model->hasNormals);
    EXPECT_EQ(normalCount(*model), 2);
    EXPECT_EQ(model->normals, (std::vector<float>{1, 0, 0, 0, -1, 0}));
}

TEST_F(ModelReading, CrlfLinesAndALastLineWithoutBreak) {
    parseMaterialLibrary("newmtl red\r\nKd 1 0 0\r\n");
    Model* model = parse(
        "v 0 0 0\r\nv 1 0 0\r\nv 0 1 0\r\n"
        "usemtl red\r\n"
        "usemat VESTRALUME/t/b.jpg\r\n"
        "f 1 2 3");
    ASSERT_EQ(faceCount(*model), 1);
    EXPECT_EQ(model->faces[0].material, 0);
    EXPECT_EQ(model->faces[0].texture, 101);
    EXPECT_EQ(requestedImages, std::vector<std::string>{"VESTRALUME/t/b.jpg"});
    EXPECT_EQ(materialRegistry[0]->name, "red");
    EXPECT_EQ(materialRegistry[0]->diffuse[0], 1);

    model = parse("v 0 0 0\nv 1 0 0\nv 7 7 7");
    EXPECT_EQ(vertexCount(*model), 3);
    EXPECT_EQ(model->vertices.back(), 7);
    EXPECT_NE(report.find("Vertices: 3\n"), std::string::npos);
}

TEST_F(ModelReading, UsematAndUsemtlSetTheTextureOfTheFacesAfterThem) {
    parseMaterialLibrary("newmtl red\nnewmtl blue\n");
    Model* model = parse(
        "v 0 0 0\nv 1 0 0\nv 0 1 0\n"
        "f 1 2 3\n"
        "usemat VESTRALUME/i/1.jpg\n"
        "f 1 2 3\n"
        "usemat (null)\n"
        "f 1 2 3\n"
        "usemtl blue\n"
        "usemat VESTRALUME/i/2.jpg\n"
        "f 1 2 3\n"
        "usemtl red\n"  // clears the texture
        "f 1 2 3\n"
        "usemtl nothing-of-that-name\n"
        "f 1 2 3\n");
    std::vector<std::pair<int, int>> got;
    for (const Face& face : model->faces) got.emplace_back(face.material, face.texture);
    EXPECT_EQ(got, (std::vector<std::pair<int, int>>{{-1, -1}, {-1, 101}, {-1, -1}, {1, 102}, {0, -1}, {-1, -1}}));
    EXPECT_EQ(requestedImages, (std::vector<std::string>{"VESTRALUME/i/1.jpg", "VESTRALUME/i/2.jpg"}));
}

TEST_F(ModelReading, MtllibNamesOneWholePath) {
    Model* model = parse("mtllib my library.mtl\nmtllib\nv 0 0 0\n");
    EXPECT_TRUE(model->hasMaterialLibrary);
    EXPECT_EQ(requestedLibraries, (std::vector<std::string>{"my library.mtl", ""}));
}

TEST_F(ModelReading, MaterialValues) {
    parseMaterialLibrary(
        "# a library\n"
        "Kd 9 9 9\n"  // no material yet: no effect
        "newmtl glass\n"
        "Ka 0.1 0.2 0.3\n"
        "Kd 0.4 0.5 0.6\n"
        "Ks 0.7 0.8 0.9\n"
        "Ns 500\n"
        "d 0.5\n"
        "illum 2\n"
        "map_Kd glass.jpg\n"
        "newmtl hard\nNs 1000\n"
        "newmtl harder\nNs 2000\n"
        "newmtl odd\nNs -5\nd\n");
    ASSERT_EQ(materialRegistry.size(), 4u);
    const Material& glass = *materialRegistry[0];
    EXPECT_EQ(glass.name, "glass");
    EXPECT_EQ(std::vector<float>(glass.ambient, glass.ambient + 4), (std::vector<float>{0.1f, 0.2f, 0.3f, 0.5f}));
    EXPECT_EQ(std::vector<float>(glass.diffuse, glass.diffuse + 4), (std::vector<float>{0.4f, 0.5f, 0.6f, 0.5f}));
    EXPECT_EQ(std::vector<float>(glass.specular, glass.specular + 4),
              (std::vector<float>{0.7f, 0.8f, 0.9f, 0.5f}));
    EXPECT_EQ(std::vector<float>(glass.emission, glass.emission + 4), (std::vector<float>{0, 0, 0, 1}));
    EXPECT_FLOAT_EQ(glass.shininess, 64);
    EXPECT_FLOAT_EQ(materialRegistry[1]->shininess, 128);
    EXPECT_FLOAT_EQ(materialRegistry[2]->shininess, 128);  // beyond OpenGL's range: its top
    EXPECT_FLOAT_EQ(materialRegistry[3]->shininess, 0);
    EXPECT_FLOAT_EQ(materialRegistry[3]->diffuse[3], 1);   // "d" without a value: opaque
}

TEST_F(ModelReading, TheFirstDefinitionOfANameWins) {
    writeFile("VESTRALUME/n/a.mtl", "newmtl wood\nKd 0.5 0.3 0.1\n");
    writeFile("VESTRALUME/n/b.mtl", "newmtl wood\nKd 1 1 1\nnewmtl stone\nKd 0.2 0.2 0.2\n");
    loadMaterialLibrary("VESTRALUME/n/a.mtl");
    loadMaterialLibrary("VESTRALUME/n/b.mtl");
    loadMaterialLibrary("VESTRALUME/n/missing.mtl");
    ASSERT_EQ(materialRegistry.size(), 2u);
    EXPECT_EQ(materialRegistry[0]->diffuse[0], 0.5f);
    EXPECT_EQ(findMaterialIndex("wood"), 0);
    EXPECT_EQ(findMaterialIndex("stone"), 1);
    EXPECT_EQ(findMaterialIndex("Stone"), -1);

    // A model naming a library already read adds nothing but still has one.
    writeFile("VESTRALUME/n/m.txt", "mtllib VESTRALUME/n/b.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nusemtl stone\nf 1 2 3\n");
    Model* model = load("VESTRALUME/n/m.txt");
    EXPECT_TRUE(model->hasMaterialLibrary);
    EXPECT_EQ(materialRegistry.size(), 2u);
    EXPECT_EQ(model->faces[0].material, 1);

    // A library that cannot be read adds nothing: its names find nothing.
    writeFile("VESTRALUME/n/r.txt", "mtllib VESTRALUME/n/gone.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nusemtl gone\nf 1 2 3\n");
    model = load("VESTRALUME/n/r.txt");
    EXPECT_TRUE(model->hasMaterialLibrary);
    EXPECT_EQ(model->faces[0].material, -1);
}

TEST_F(ModelReading, LongNamesAreKeptWhole) {
    const std::string longName = "a-material-name-longer-than-nineteen-characters";
    const std::string sameStart = "a-material-name-lon-but-another";
    parseMaterialLibrary("newmtl " + longName + "\nKd 1 0 0\nnewmtl " + sameStart + "\nKd 0 1 0\n");
    ASSERT_EQ(materialRegistry.size(), 2u);
    EXPECT_EQ(materialRegistry[0]->name, longName);
    Model* model = parse("v 0 0 0\nv 1 0 0\nv 0 1 0\nusemtl " + sameStart + "\nf 1 2 3\nusemtl " +
                         longName.substr(0, 19) + "\nf 1 2 3\n");
    EXPECT_EQ(model->faces[0].material, 1);
    EXPECT_EQ(model->faces[1].material, -1);
}

TEST_F(ModelReading, MalformedLinesLeaveZerosAndNeverCrash) {
    std::string binary;
    for (int i = 0; i < 512; ++i) binary += static_cast<char>((i * 37) & 255);
    const std::string texts[] = {
        "",
        "\n\n\r\n",
        "v\nf\nvn\nvt\nusemtl\nusemat\n",
        "v 1 2 3\0 4\nv x y z\nv 5\nvt 0.5\nvn\t1 1 1\nf 1 2 3\n"s,
        "v nan inf -inf\nv 1e39 0 0\nv 0 0 0\nf 1 2 3\n",
        binary,
        std::string(10000, 'f') + "\nf " + std::string(5000, '/') + "\n",
    };
    for (const std::string& text : texts) {
        Model* model = parse(text);
        ASSERT_NE(model, nullptr);
        EXPECT_EQ(faceCount(*model), static_cast<int>(model->faces.size()));
        EXPECT_EQ(model->vertices.size(), static_cast<size_t>(vertexCount(*model)) * 3);
        if (!model->hasNormals) {
            EXPECT_EQ(model->faceNormals.size(), model->faces.size() * 3);
        }
    }
    Model* model = parse("v 1 2 3\0 4\nv x y z\nv 5\nvt 0.5\nf 1 2 3\n"s);
    EXPECT_EQ(model->vertices, (std::vector<float>{1, 2, 3, 0, 0, 0, 5, 0, 0}));
    EXPECT_EQ(model->texcoords, (std::vector<float>{0.5f, 0, 0}));
}

TEST_F(ModelReading, UsematImagesComeFromTheTextureRegistry) {
    ensureGlContext();
    ASSERT_TRUE(writeSolidJpeg("VESTRALUME/t/b.jpg", 8, 8, 200, 100, 50));
    writeFile("VESTRALUME/n/rp.txt",
              "v 0 0 0\nv 1 0 0\nv 0 1 0\nusemat VESTRALUME/t/b.jpg\nf 1 2 3\nf 1 2 3\n"
              "usemat VESTRALUME/t/b.jpg\nf 1 2 3\n");
    Model* model = load("VESTRALUME/n/rp.txt");
    const int index = findTextureIndex("VESTRALUME/t/b.jpg");
    ASSERT_GE(index, 0);
    Texture* texture = textureRegistry[index];
    for (const Face& face : model->faces) EXPECT_EQ(face.texture, texture->id);
    EXPECT_EQ(texture->holders, 2);  // one per "usemat" line
    discardTexture(texture);
    discardTexture(texture);
}

}  // namespace
