// JPEG decoding: any bytes give either nothing or an image whose buffer
// holds exactly its rows.
#include <cstdint>
#include <string>

#include "assets/texture.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Texture* texture = decodeJpegMemory(data, size, "fuzz");
    if (!texture) return 0;
    FUZZ_REQUIRE(texture->components == 1 || texture->components == 3);
    FUZZ_REQUIRE(texture->width > 0 && texture->height > 0 && texture->pixels != nullptr);
    // Touch the first and the last byte: the buffer must span every row.
    const size_t bytes = static_cast<size_t>(texture->width) * texture->height * texture->components;
    volatile unsigned char edge = texture->pixels[0];
    edge = texture->pixels[bytes - 1];
    (void)edge;
    delete[] texture->pixels;
    delete texture;
    return 0;
}
