// The texture registry: one OpenGL texture per image path, shared by every
// holder of that path and released when the last holder discards it.
#include "assets/texture.h"

#include <algorithm>
#include <cstdio>
#include <new>

#include <GL/gl.h>
#include <GL/glu.h>

#include "platform/platform.h"
#include "state/catalogue.h"

std::vector<Texture*> textureRegistry;

namespace {

// Uploads the decoded pixels as a mipmapped texture; false when GLU could
// not build the mipmaps (then no texture object is left behind).
bool uploadTexture(Texture& texture) {
    GLuint id = 0;
    glGenTextures(1, &id);
    texture.id = static_cast<int>(id);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glBindTexture(GL_TEXTURE_2D, id);
    const GLenum format = texture.components == 1 ? GL_LUMINANCE : GL_RGB;
    const GLint built = gluBuild2DMipmaps(GL_TEXTURE_2D, GL_RGB, texture.width, texture.height, format,
                                          GL_UNSIGNED_BYTE, texture.pixels);
    if (built != 0) {
        glDeleteTextures(1, &id);
        return false;
    }
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    return true;
}

void releaseRecord(Texture* texture) {
    delete[] texture->pixels;
    delete texture;
}

}  // namespace

int findTextureIndex(const std::string& path) {
    for (size_t i = 0; i < textureRegistry.size(); ++i)
        if (textureRegistry[i]->name == path) return static_cast<int>(i);
    return -1;
}

Texture* tryLoadTexture(const std::string& path) {
    const int found = findTextureIndex(path);
    if (found >= 0) {
        Texture* texture = textureRegistry[found];
        ++texture->holders;
        return texture;
    }
    Texture* texture = decodeJpeg(path);
    if (!texture) return nullptr;
    bool registered = false;
    try {
        texture->name = path;
        // Room for the record, grown geometrically: reserving one more place
        // on every load would move the whole registry each time.
        if (textureRegistry.size() == textureRegistry.capacity())
            textureRegistry.reserve(textureRegistry.empty() ? 64 : 2 * textureRegistry.capacity());
        registered = uploadTexture(*texture);
    } catch (const std::bad_alloc&) {
        registered = false;  // no memory left for the record: as a failed load
    }
    delete[] texture->pixels;
    texture->pixels = nullptr;
    if (!registered) {
        std::printf("Impossível carregar arquivo JPG: %s\n", path.c_str());
        releaseRecord(texture);
        return nullptr;
    }
    texture->holders = 1;
    textureRegistry.push_back(texture);  // cannot throw: room reserved above
    return texture;
}

Texture* loadTexture(const std::string& path) {
    Texture* texture = tryLoadTexture(path);
    if (!texture) endProcess(1);
    return texture;
}

Texture* loadTextureOrPlaceholder(const std::string& path, int placeholder) {
    Texture* texture = tryLoadTexture(path);
    return texture ? texture : tryLoadTexture(placeholderPath(placeholder));
}

void discardTexture(Texture* texture) {
    if (!texture) return;
    if (texture->holders > 0) --texture->holders;
    if (texture->holders > 0) return;
    auto place = std::find(textureRegistry.begin(), textureRegistry.end(), texture);
    if (place == textureRegistry.end()) return;  // not a registered record
    textureRegistry.erase(place);
    const GLuint id = static_cast<GLuint>(texture->id);
    glDeleteTextures(1, &id);
    releaseRecord(texture);
}

void releaseTexture(Texture* texture) {
    if (texture && texture->holders > 0) --texture->holders;
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
