#include "cards/jpeg_writer.h"

#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

namespace {

bool validImage(int width, int height, int components, const std::vector<unsigned char>& pixels) {
    if (width <= 0 || height <= 0 || (components != 1 && components != 3 && components != 4))
        return false;
    return pixels.size() >= static_cast<size_t>(width) * height * components;
}

// Compresses the image into the destination already attached to `cinfo`.
void compressImage(jpeg_compress_struct& cinfo, int width, int height, int components,
                   const std::vector<unsigned char>& pixels, int quality) {
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = components;
    cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : components == 4 ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    const size_t stride = static_cast<size_t>(width) * components;
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<unsigned char*>(&pixels[cinfo.next_scanline * stride]);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
}

}  // namespace

bool writeJpeg(const std::string& path, int width, int height, int components,
               const std::vector<unsigned char>& pixels, int quality) {
    // Encoded in memory first: libjpeg's own file output ends the process
    // when a write fails (a full disk), where a caller wants a false.
    const std::vector<unsigned char> bytes = encodeJpeg(width, height, components, pixels, quality);
    if (bytes.empty()) return false;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

std::vector<unsigned char> encodeJpeg(int width, int height, int components,
                                      const std::vector<unsigned char>& pixels, int quality) {
    std::vector<unsigned char> bytes;
    if (!validImage(width, height, components, pixels)) return bytes;
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    compressImage(cinfo, width, height, components, pixels, quality);
    bytes.assign(buffer, buffer + size);
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
    return bytes;
}

bool writeSolidJpeg(const std::string& path, int width, int height, unsigned char red,
                    unsigned char green, unsigned char blue) {
    std::vector<unsigned char> pixels(static_cast<size_t>(width) * height * 3);
    for (size_t i = 0; i < pixels.size(); i += 3) {
        pixels[i] = red;
        pixels[i + 1] = green;
        pixels[i + 2] = blue;
    }
    return writeJpeg(path, width, height, 3, pixels);
}
