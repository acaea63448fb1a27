// MTL libraries: any text adds materials with unique names and values that
// OpenGL accepts.
#include <cstdint>
#include <string>

#include "assets/model.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    parseMaterialLibrary(text);
    for (size_t i = 0; i < materialRegistry.size(); ++i) {
        const Material& material = *materialRegistry[i];
        FUZZ_REQUIRE(findMaterialIndex(material.name) == static_cast<int>(i));
        FUZZ_REQUIRE(material.shininess >= 0 && material.shininess <= 128);
        FUZZ_REQUIRE(material.emission[0] == 0 && material.emission[1] == 0 && material.emission[2] == 0 &&
                     material.emission[3] == 1);
    }
    for (Material* material : materialRegistry) delete material;
    materialRegistry.clear();
    return 0;
}
