// OBJ models: any text gives a model whose every face can be drawn without
// reading outside an array.
#include <cstdint>
#include <string>

#include "assets/model.h"
#include "fuzz/fuzz_support.h"

namespace {

int fakeImage(const std::string&) { return 7; }
void noLibrary(const std::string&) {}

bool within(int index, int count) { return index >= 0 && index < count; }

void checkModel(const Model& model) {
    FUZZ_REQUIRE(model.vertices.size() % 3 == 0 && model.texcoords.size() % 3 == 0);
    if (model.hasNormals) {
        FUZZ_REQUIRE(model.normals.size() % 3 == 0);
    } else {
        FUZZ_REQUIRE(model.faceNormals.size() == model.faces.size() * 3);
    }
    for (const Face& face : model.faces) {
        const size_t corners = face.vertexIndices.size();
        FUZZ_REQUIRE(corners >= 3 && cornerCount(face) == static_cast<int>(corners));
        FUZZ_REQUIRE(face.texcoordIndices.empty() || face.texcoordIndices.size() == corners);
        FUZZ_REQUIRE(face.normalIndices.empty() || face.normalIndices.size() == corners);
        for (int index : face.vertexIndices) FUZZ_REQUIRE(within(index, vertexCount(model)));
        for (int index : face.texcoordIndices) FUZZ_REQUIRE(within(index, texcoordCount(model)));
        for (int index : face.normalIndices) FUZZ_REQUIRE(within(index, normalCount(model)));
        FUZZ_REQUIRE(face.material == -1 || within(face.material, static_cast<int>(materialRegistry.size())));
        FUZZ_REQUIRE(face.texture == -1 || face.texture == 7);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A few materials for "usemtl" lines to find.
    parseMaterialLibrary("newmtl red\nKd 1 0 0\nnewmtl tilePanel\nnewmtl a\n");
    const std::string text(reinterpret_cast<const char*>(data), size);
    Model* model = parseModel(text, fakeImage, noLibrary);
    FUZZ_REQUIRE(model != nullptr);
    checkModel(*model);
    delete model;
    for (Material* material : materialRegistry) delete material;
    materialRegistry.clear();
    return 0;
}
