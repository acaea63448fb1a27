// JPEG images as OpenGL textures, and the texture registry that hands out one
// texture per path.
#pragma once

#include <string>
#include <vector>

// One loaded image.
struct Texture {
    std::string name;       // the path exactly as passed to loadTexture
    int components = 0;     // colour components per pixel as uploaded: 1 grey, 3 colour
    int width = 0;
    int height = 0;
    int id = 0;             // the OpenGL texture name
    unsigned char* pixels = nullptr;  // decoded image, bottom row first; only while loading
    int holders = 0;        // how many holders share this record (see loadTexture)
};

// Every registered texture, in load order. No two records share a name.
extern std::vector<Texture*> textureRegistry;

// How many files have been decoded since start-up (for tests and benchmarks).
extern long decodeCount;

// Returns the registered texture for this exact path, loading and
// registering it first when needed. The caller becomes one more holder of
// the record. A file that cannot be loaded prints
// "Impossível carregar arquivo JPG: <path>" and ends the process with status
// 1: this is for images the program cannot start without.
Texture* loadTexture(const std::string& path);

// Like loadTexture, but a file that cannot be loaded (missing, unreadable,
// damaged, not a JPEG) prints the message and yields nullptr instead.
Texture* tryLoadTexture(const std::string& path);

// For images loaded while the program runs (thumbnails): the texture of
// `path`, or, when that cannot be loaded, the placeholder image
// VESTRALUME/i/<placeholder>.jpg. Yields nullptr only when neither loads.
Texture* loadTextureOrPlaceholder(const std::string& path, int placeholder);

// One holder gives the record up. When no holder is left the record leaves
// the registry, its OpenGL texture is deleted and the record released, so
// the next load of its path decodes the file afresh. nullptr is ignored.
void discardTexture(Texture* texture);

// One holder lets go of the record without discarding it: it stays
// registered, so a later load of the same path finds it without reading the
// file. nullptr is ignored.
void releaseTexture(Texture* texture);

// Sets the filters of the texture whose OpenGL name is `texture`, or of every
// registered texture when it is -1.
void setTextureFilters(int texture, int minFilter, int magFilter);

// Position of the registry record named exactly `path`, or -1.
int findTextureIndex(const std::string& path);

// Decodes one JPEG file into a new record with components, width, height and
// pixels set (rows bottom-up; CMYK and YCCK converted to RGB), or nullptr
// when it cannot be opened or decoded (the message is printed).
Texture* decodeJpeg(const std::string& path);

// The same from bytes in memory; `label` names them in messages.
Texture* decodeJpegMemory(const unsigned char* data, size_t size, const std::string& label);
