// The texture registry: one OpenGL texture per image path, shared by every
// holder of that path, found through a hash index, and kept for a while
// after its last holder released it.
#include "assets/texture.h"

#include <algorithm>
#include <new>
#include <unordered_map>

#include <GL/gl.h>
#include <GL/glu.h>

#include "assets/mipmaps.h"
#include "platform/report.h"
#include "state/catalogue.h"

std::vector<Texture*> textureRegistry;
size_t unheldTextureBudget = defaultUnheldTextureBudget;

namespace {

// The registry by path.
std::unordered_map<std::string, Texture*> textureIndex;
// Registered textures held by no one, released longest ago first, and the
// bytes they take together.
std::list<Texture*> unheldTextures;
size_t unheldBytes = 0;
long lastSerial = 0;

// Textures taken out of the registry while held (forgetTexturePath): they
// are deleted when their last holder lets go.
std::vector<Texture*> forgottenTextures;

GLint maxTextureSide() {
    static GLint side = 0;
    if (side == 0) glGetIntegerv(GL_MAX_TEXTURE_SIZE, &side);
    return side;
}

// Level 0 as it is and every smaller level computed here, one glTexImage2D
// each; for pictures whose sides are powers of two within the graphics
// library's limit, which GLU would upload unscaled.
void uploadLevels(const Image& image, GLenum format) {
    int width = image.width;
    int height = image.height;
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, width, height, 0, format, GL_UNSIGNED_BYTE, image.pixels.get());
    if (width == 1 && height == 1) return;
    // Two buffers taken in turn: one the size of level 1, which every later
    // level fits, and one the size of level 2.
    const size_t pixel = static_cast<size_t>(image.components);
    const size_t firstSize = pixel * halvedSide(width) * halvedSide(height);
    const size_t secondSize = pixel * halvedSide(halvedSide(width)) * halvedSide(halvedSide(height));
    std::unique_ptr<unsigned char[]> buffers[2] = {std::unique_ptr<unsigned char[]>(new unsigned char[firstSize]),
                                                   std::unique_ptr<unsigned char[]>(new unsigned char[secondSize])};
    const unsigned char* source = image.pixels.get();
    for (int number = 1; width > 1 || height > 1; ++number) {
        unsigned char* level = buffers[(number - 1) % 2].get();
        halveImage(source, width, height, image.components, level);
        width = halvedSide(width);
        height = halvedSide(height);
        glTexImage2D(GL_TEXTURE_2D, number, GL_RGB, width, height, 0, format, GL_UNSIGNED_BYTE, level);
        source = level;
    }
}

void stopWaiting(Texture* texture) {
    if (!texture->unheld) return;
    unheldTextures.erase(texture->unheldPlace);
    unheldBytes -= texture->bytes;
    texture->unheld = false;
}

bool isRegistered(const Texture* texture) {
    auto found = textureIndex.find(texture->name);
    return found != textureIndex.end() && found->second == texture;
}

// Takes a registered record out of the registry, deletes its OpenGL texture
// and releases it.
void dropTexture(Texture* texture) {
    stopWaiting(texture);
    textureIndex.erase(texture->name);
    auto place = std::find(textureRegistry.begin(), textureRegistry.end(), texture);
    if (place != textureRegistry.end()) textureRegistry.erase(place);
    const GLuint id = static_cast<GLuint>(texture->id);
    glDeleteTextures(1, &id);
    delete texture;
}

// A forgotten texture whose last holder let go.
void deleteForgotten(Texture* texture) {
    auto place = std::find(forgottenTextures.begin(), forgottenTextures.end(), texture);
    if (place == forgottenTextures.end()) return;
    forgottenTextures.erase(place);
    const GLuint id = static_cast<GLuint>(texture->id);
    glDeleteTextures(1, &id);
    delete texture;
}

void dropUnheldBeyondBudget() {
    while (unheldBytes > unheldTextureBudget && !unheldTextures.empty()) dropTexture(unheldTextures.front());
}

}  // namespace

unsigned uploadMipmappedImage(const Image& image, size_t& bytes) {
    GLuint id = 0;
    glGenTextures(1, &id);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glBindTexture(GL_TEXTURE_2D, id);
    // The mipmap filter before level 0: the graphics library then lays out
    // the whole chain once instead of a single level first.
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    const GLenum format = image.components == 1 ? GL_LUMINANCE : GL_RGB;
    bool built = false;
    try {
        if (isPowerOfTwo(image.width) && isPowerOfTwo(image.height) && image.width <= maxTextureSide() &&
            image.height <= maxTextureSide()) {
            uploadLevels(image, format);
            built = true;
        } else {
            // GLU scales other sizes to powers of two first.
            built = gluBuild2DMipmaps(GL_TEXTURE_2D, GL_RGB, image.width, image.height, format,
                                      GL_UNSIGNED_BYTE, image.pixels.get()) == 0;
        }
    } catch (const std::bad_alloc&) {
        built = false;  // no memory for a level: as a failed load
    }
    if (!built) {
        glDeleteTextures(1, &id);
        return 0;
    }
    GLint width = 0, height = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &height);
    bytes = mipmappedTextureBytes(std::max(width, 1), std::max(height, 1));
    return id;
}

Texture* findTexture(const std::string& path) {
    auto found = textureIndex.find(path);
    return found == textureIndex.end() ? nullptr : found->second;
}

int findTextureIndex(const std::string& path) {
    const Texture* texture = findTexture(path);
    if (!texture) return -1;
    auto place = std::find(textureRegistry.begin(), textureRegistry.end(), texture);
    return place == textureRegistry.end() ? -1 : static_cast<int>(place - textureRegistry.begin());
}

Texture* loadTexture(const std::string& path) {
    if (Texture* found = findTexture(path)) {
        stopWaiting(found);
        ++found->holders;
        return found;
    }
    std::optional<Image> image = decodeJpeg(path);
    if (!image) return nullptr;
    Texture* texture = new (std::nothrow) Texture;
    bool registered = false;
    if (texture) {
        try {
            texture->name = path;
            texture->components = image->components;
            texture->width = image->width;
            texture->height = image->height;
            // Room for the record, grown geometrically: reserving one more
            // place on every load would move the whole registry each time.
            if (textureRegistry.size() == textureRegistry.capacity())
                textureRegistry.reserve(textureRegistry.empty() ? 64 : 2 * textureRegistry.capacity());
            auto indexed = textureIndex.emplace(path, texture).first;
            texture->id = static_cast<int>(uploadMipmappedImage(*image, texture->bytes));
            registered = texture->id != 0;
            if (!registered) textureIndex.erase(indexed);
        } catch (const std::bad_alloc&) {
            registered = false;  // no memory left for the record: as a failed load
        }
    }
    image.reset();
    if (!registered) {
        report(ReportLevel::note, "Impossível carregar arquivo JPG: " + path);
        delete texture;
        return nullptr;
    }
    texture->holders = 1;
    texture->serial = ++lastSerial;
    textureRegistry.push_back(texture);  // cannot throw: room reserved above
    return texture;
}

Texture* loadTextureOrPlaceholder(const std::string& path, int placeholder) {
    Texture* texture = loadTexture(path);
    return texture ? texture : loadTexture(placeholderPath(placeholder));
}

void discardTexture(Texture* texture) {
    if (!texture) return;
    if (texture->holders > 0) --texture->holders;
    if (texture->holders > 0) return;
    if (isRegistered(texture))
        dropTexture(texture);
    else
        deleteForgotten(texture);
}

void releaseTexture(Texture* texture) {
    if (!texture || texture->holders == 0) return;
    if (--texture->holders > 0 || texture->unheld) return;
    if (!isRegistered(texture)) {
        deleteForgotten(texture);
        return;
    }
    try {
        texture->unheldPlace = unheldTextures.insert(unheldTextures.end(), texture);
    } catch (const std::bad_alloc&) {
        dropTexture(texture);  // no memory to keep it: as if discarded
        return;
    }
    texture->unheld = true;
    unheldBytes += texture->bytes;
    dropUnheldBeyondBudget();
}

void forgetTexturePath(const std::string& path) {
    Texture* texture = findTexture(path);
    if (!texture) return;
    if (texture->holders == 0) {
        dropTexture(texture);
        return;
    }
    // Room first, so that a record is never both out of the registry and
    // untracked.
    try {
        forgottenTextures.reserve(forgottenTextures.size() + 1);
    } catch (const std::bad_alloc&) {
        return;  // no memory: the path keeps its texture until the next change
    }
    textureIndex.erase(texture->name);
    auto place = std::find(textureRegistry.begin(), textureRegistry.end(), texture);
    if (place != textureRegistry.end()) textureRegistry.erase(place);
    forgottenTextures.push_back(texture);
}

void setUnheldTextureBudget(size_t bytes) {
    unheldTextureBudget = bytes;
    dropUnheldBeyondBudget();
}

size_t unheldTextureBytes() { return unheldBytes; }

void forgetAllTextures() {
    for (Texture* texture : textureRegistry) {
        const GLuint id = static_cast<GLuint>(texture->id);
        glDeleteTextures(1, &id);
        delete texture;
    }
    for (Texture* texture : forgottenTextures) {
        const GLuint id = static_cast<GLuint>(texture->id);
        glDeleteTextures(1, &id);
        delete texture;
    }
    forgottenTextures.clear();
    textureRegistry.clear();
    textureIndex.clear();
    unheldTextures.clear();
    unheldBytes = 0;
}

void setTextureFilters(int texture, int minFilter, int magFilter) {
    glEnable(GL_TEXTURE_2D);
    auto setFilters = [&](int id) {
        glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(id));
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, minFilter);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, magFilter);
    };
    if (texture == -1) {
        for (const Texture* record : textureRegistry) setFilters(record->id);
    } else {
        setFilters(texture);
    }
    glDisable(GL_TEXTURE_2D);
}
