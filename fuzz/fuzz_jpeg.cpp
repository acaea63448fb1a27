// JPEG decoding: any bytes give either nothing or an image whose buffer
// holds exactly its rows.
#include <cstdint>
#include <string>

#include "assets/image.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::optional<Image> image = decodeJpegMemory(data, size, "fuzz");
    if (!image) return 0;
    FUZZ_REQUIRE(image->components == 1 || image->components == 3);
    FUZZ_REQUIRE(image->width > 0 && image->height > 0 && image->pixels != nullptr);
    // Touch the first and the last byte: the buffer must span every row.
    const size_t bytes = static_cast<size_t>(image->width) * image->height * image->components;
    volatile unsigned char edge = image->pixels[0];
    edge = image->pixels[bytes - 1];
    (void)edge;
    return 0;
}
