// Loading model files: the file's text goes to the parser, and the images
// its "usemat" lines name become textures of the registry.
#include "assets/model.h"

#include "assets/file_bytes.h"
#include "assets/texture.h"
#include "platform/report.h"

Model* loadModel(const std::string& path, ModelLoadOutcome* outcome) {
    ModelLoadOutcome result = modelLoaded;
    report(ReportLevel::note, "*** Objeto: " + path);
    std::string text;
    const FileOutcome read = readAssetFile(path, tableFileLimit, text);
    Model* model = nullptr;
    if (read != fileRead) {
        reportUnreadableAsset(path, read, tableFileLimit);
        result = modelFileUnreadable;
    } else {
        // Images named by a model are needed to draw it: one that cannot be
        // loaded ends the reading.
        const auto loadImage = [&result](const std::string& image) {
            const Texture* texture = loadTexture(image);
            if (texture) return texture->id;
            result = modelImageUnloadable;
            return stopModelReading;
        };
        const auto loadLibrary = [&result](const std::string& library) {
            if (!loadMaterialLibrary(library)) result = modelOutOfMemory;
        };
        model = parseModel(text, loadImage, loadLibrary);
        if (!model && result == modelLoaded) result = modelOutOfMemory;
        if (model && result != modelLoaded) {
            delete model;
            model = nullptr;
        }
    }
    if (outcome) *outcome = result;
    return model;
}
