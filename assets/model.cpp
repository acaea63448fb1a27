// Loading model files: the file's text goes to the parser, and the images
// its "usemat" lines name become textures of the registry.
#include "assets/model.h"

#include <cstdio>

#include "assets/file_bytes.h"
#include "assets/texture.h"

namespace {

// Images named by a model are needed to draw the scene at all, so one that
// cannot be loaded ends the process (loadTexture).
int loadModelImage(const std::string& path) {
    return loadTexture(path)->id;
}

}  // namespace

Model* loadModel(const std::string& path) {
    std::printf("*** Objeto: %s\n", path.c_str());
    std::string text;
    const FileOutcome outcome = readAssetFile(path, tableFileLimit, text);
    if (outcome != fileRead) {
        reportUnreadableAsset(path, outcome, tableFileLimit);
        return nullptr;
    }
    return parseModel(text, loadModelImage, loadMaterialLibrary);
}
