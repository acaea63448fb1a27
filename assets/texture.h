// JPEG images as OpenGL textures, and the texture registry that hands out one
// texture per path.
//
// A texture is registered from its load until its last holder discards it.
// A holder may instead release it: the texture then stays registered, held
// by no one, so that a later load of its path finds it without reading the
// file. Textures held by no one are kept only within a byte budget; beyond
// it the one released longest ago goes first, exactly as if it had been
// discarded. Held textures (everything the wall shows) are never dropped.
#pragma once

#include <cstddef>
#include <list>
#include <string>
#include <vector>

#include "assets/image.h"

// One loaded image.
struct Texture {
    std::string name;       // the path exactly as passed to loadTexture
    int components = 0;     // colour components per pixel of the decoded image: 1 grey, 3 colour
    int width = 0;          // of the decoded image
    int height = 0;
    int id = 0;             // the OpenGL texture name
    int holders = 0;        // how many holders share this record (see loadTexture)
    long serial = 0;        // which load made it: every decode and upload counts up
    size_t bytes = 0;       // what the graphics library keeps for it, mipmaps included
    bool unheld = false;    // registered and held by no one: waits in the budget
    std::list<Texture*>::iterator unheldPlace;  // its place there, while unheld
};

// Every registered texture, in load order. No two records share a name.
extern std::vector<Texture*> textureRegistry;

// Bytes that textures held by no one may take together.
constexpr size_t defaultUnheldTextureBudget = size_t{64} << 20;
extern size_t unheldTextureBudget;

// Returns the registered texture for this exact path, loading and
// registering it first when needed. The caller becomes one more holder of
// the record. A file that cannot be loaded (missing, unreadable, damaged,
// not a JPEG) reports "Impossível carregar arquivo JPG: <path>" as a note
// and yields nullptr; whether the program can go on without the image is
// the caller's decision.
Texture* loadTexture(const std::string& path);

// For images loaded while the program runs (thumbnails): the texture of
// `path`, or, when that cannot be loaded, the placeholder image
// VESTRALUME/i/<placeholder>.jpg. Yields nullptr only when neither loads.
Texture* loadTextureOrPlaceholder(const std::string& path, int placeholder);

// One holder gives the record up. When no holder is left the record leaves
// the registry, its OpenGL texture is deleted and the record released, so
// the next load of its path decodes the file afresh. nullptr is ignored.
void discardTexture(Texture* texture);

// One holder lets go of the record without discarding it: when no holder is
// left it stays registered within the budget for unheld textures, so a
// later load of the same path finds it without reading the file. nullptr is
// ignored.
void releaseTexture(Texture* texture);

// The file of `path` changed on disk: the next load of the path decodes it
// afresh. A registered texture of the path that no one holds is dropped at
// once; one that is held leaves the registry but stays with its holders, as
// it was, until the last of them discards or releases it (then it is
// deleted). Nothing happens when the path has no registered texture.
void forgetTexturePath(const std::string& path);

// Sets the budget for textures held by no one and drops the ones released
// longest ago until they fit.
void setUnheldTextureBudget(size_t bytes);

// Bytes the textures held by no one take now.
size_t unheldTextureBytes();

// Discards every registered texture whoever holds it and empties the
// registry (tests and benchmarks start afresh with it).
void forgetAllTextures();

// Sets the filters of the texture whose OpenGL name is `texture`, or of every
// registered texture when it is -1.
void setTextureFilters(int texture, int minFilter, int magFilter);

// The registered texture named exactly `path`, or nullptr; found through a
// hash index, whatever the size of the registry.
Texture* findTexture(const std::string& path);

// Position of the registry record named exactly `path`, or -1.
int findTextureIndex(const std::string& path);

// Uploads a picture as a new OpenGL texture with its whole mipmap chain,
// bound to GL_TEXTURE_2D, filters GL_LINEAR_MIPMAP_LINEAR and GL_LINEAR.
// Pictures whose sides are powers of two get their levels built here, one
// glTexImage2D each; others are scaled and built by GLU. Yields the texture
// name and the bytes it takes, or 0 when it could not be made.
unsigned uploadMipmappedImage(const Image& image, size_t& bytes);
