// Drawing a loaded model in immediate mode with its materials and textures.
#include "assets/model.h"

#include <algorithm>

#include <GL/gl.h>

namespace {

// The three floats at position `index` of `values`, or nullptr when the
// array has no such entry.
const float* entryAt(const std::vector<float>& values, int index) {
    if (index < 0 || (static_cast<size_t>(index) + 1) * 3 > values.size()) return nullptr;
    return &values[static_cast<size_t>(index) * 3];
}

void applyMaterial(const Material& material, bool ownImage) {
    static const float white[4] = {1, 1, 1, 1};
    glMaterialfv(GL_FRONT, GL_AMBIENT, material.ambient);
    // A face with its own image shows it unshaded by the material's colour.
    glMaterialfv(GL_FRONT, GL_DIFFUSE, ownImage ? white : material.diffuse);
    glMaterialfv(GL_FRONT, GL_SPECULAR, material.specular);
    glMaterialfv(GL_FRONT, GL_EMISSION, material.emission);
    glMaterialf(GL_FRONT, GL_SHININESS, material.shininess);
}

}  // namespace

// A face is drawn textured only when it has a texture coordinate for every
// corner (a texture without them would show one stale texel), and a model
// with normals of its own gives a face that lacks them its computed face
// normal, so no corner reads an entry its face does not have.
void drawModel(const Model& model, int textureOverride) {
    glPushAttrib(GL_LIGHTING_BIT);
    glDisable(GL_TEXTURE_2D);
    if (model.hasMaterialLibrary) glDisable(GL_COLOR_MATERIAL);
    int previousTexture = -1;
    for (size_t f = 0; f < model.faces.size(); ++f) {
        const Face& face = model.faces[f];
        const size_t corners = face.vertexIndices.size();
        const bool cornerNormals = model.hasNormals && face.normalIndices.size() == corners;
        const bool texcoords = corners > 0 && face.texcoordIndices.size() == corners;

        if (!cornerNormals) {
            const float* stored = model.hasNormals ? nullptr : entryAt(model.faceNormals, static_cast<int>(f));
            float computed[3];
            if (!stored) faceNormal(model, face, computed);
            glNormal3fv(stored ? stored : computed);
        }
        if (face.material >= 0 && static_cast<size_t>(face.material) < materialRegistry.size())
            applyMaterial(*materialRegistry[face.material], face.texture != -1);

        int texture = textureOverride != -1 ? textureOverride : face.texture;
        if (!texcoords) texture = -1;
        if (texture == -1 && previousTexture != -1) glDisable(GL_TEXTURE_2D);
        if (texture != -1 && texture != previousTexture) {
            glEnable(GL_TEXTURE_2D);
            glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(texture));
        }

        glBegin(GL_POLYGON);
        for (size_t c = 0; c < corners; ++c) {
            if (cornerNormals) {
                if (const float* normal = entryAt(model.normals, face.normalIndices[c])) glNormal3fv(normal);
            }
            if (texture != -1) {
                if (const float* texcoord = entryAt(model.texcoords, face.texcoordIndices[c]))
                    glTexCoord2f(texcoord[0], texcoord[1]);
            }
            if (const float* vertex = entryAt(model.vertices, face.vertexIndices[c])) glVertex3fv(vertex);
        }
        glEnd();
        previousTexture = texture;
    }
    glDisable(GL_TEXTURE_2D);
    glPopAttrib();
}
