#include "scene/wall.h"

#include <GL/gl.h>

#include "assets/model.h"
#include "assets/texture.h"
#include "platform/report.h"
#include "scene/placement.h"
#include "state/catalogue.h"
#include "state/state_files.h"

int currentList = catalogueList;
Texture* tileTextures[4][17] = {};
bool thumbnailRefresh[4][17] = {};
bool blankTiles[4][17] = {};
Texture* selectionTexture = nullptr;
int playingTile = 0;
int playingTexture = 0;
Model* tileModel = nullptr;
Model* selectionModel = nullptr;

namespace {

void setLightColour(GLenum light, GLenum which, float r, float g, float b) {
    const GLfloat colour[] = {r, g, b, 1};
    glLightfv(light, which, colour);
}

// The scene models. Images a model names are needed to draw it, so one
// that cannot be loaded fails start-up, as running out of memory does; a
// model file that cannot be read fails it only when the wall needs the
// model, with a message rather than drawing from nothing.
bool loadSceneModel(const std::string& path, bool required, Model*& model) {
    ModelLoadOutcome outcome = modelLoaded;
    model = loadModel(path, &outcome);
    if (outcome == modelFileUnreadable && required) {
        report(ReportLevel::note, "Impossível carregar modelo: " + path);
        report(ReportLevel::problem, "Quillon cannot start: the model " + path + " is missing or unreadable.");
        return false;
    }
    return outcome == modelLoaded || outcome == modelFileUnreadable;
}

// The scene images: the program cannot start without them.
bool loadRequiredImage(const std::string& path, Texture*& texture) {
    texture = loadTexture(path);
    if (!texture)
        report(ReportLevel::problem, "Quillon cannot start: the image " + path + " is missing or damaged.");
    return texture != nullptr;
}

int textureName(const Texture* texture) { return texture ? texture->id : -1; }

}  // namespace

bool setupScene() {
    glClearColor(0, 0, 0, 1);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);

    setLightColour(GL_LIGHT0, GL_AMBIENT, 0.1f, 0.1f, 0.1f);
    setLightColour(GL_LIGHT0, GL_DIFFUSE, 0.4f, 0.4f, 0.4f);
    setLightColour(GL_LIGHT0, GL_SPECULAR, 0, 0, 0);
    const GLenum sideLights[] = {GL_LIGHT1, GL_LIGHT2};
    for (GLenum light : sideLights) {
        setLightColour(light, GL_AMBIENT, 0.1f, 0.1f, 0.1f);
        setLightColour(light, GL_DIFFUSE, 0.4f, 0.4f, 0.4f);
    }
    setLightColour(GL_LIGHT3, GL_AMBIENT, 0.1f, 0.1f, 0.1f);
    setLightColour(GL_LIGHT3, GL_DIFFUSE, 0.4f, 0.2f, 0);
    setLightColour(GL_LIGHT4, GL_AMBIENT, 0.1f, 0.1f, 0.1f);
    setLightColour(GL_LIGHT4, GL_DIFFUSE, 0.8f, 0.8f, 0.8f);
    for (GLenum light = GL_LIGHT0; light <= GL_LIGHT4; ++light) glEnable(light);
    glEnable(GL_LIGHTING);

    const GLfloat ambient[] = {0.2f, 0.2f, 0.2f, 1};
    const GLfloat diffuse[] = {1, 1, 1, 1};
    glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, ambient);
    glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, diffuse);
    glColorMaterial(GL_FRONT, GL_DIFFUSE);
    glEnable(GL_COLOR_MATERIAL);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_NORMALIZE);
    glEnable(GL_DEPTH_TEST);

    if (!loadRequiredImage(dataRoot + "t/b.jpg", selectionTexture)) return false;
    for (int k = 1; k <= placeholderCount; ++k) {
        const int list = k <= wallTiles ? catalogueList : favouritesList;
        if (!loadRequiredImage(placeholderPath(k), tileTextures[list][(k - 1) % wallTiles + 1])) return false;
    }

    // The models the wall does not draw are read for their report and
    // images only.
    for (const SceneModel& scene : sceneModels) {
        Model* model = nullptr;
        if (!loadSceneModel(stateFile(scene.name), scene.drawn, model)) return false;
        if (&scene == &sceneModels[tileModelIndex])
            tileModel = model;
        else if (&scene == &sceneModels[selectionModelIndex])
            selectionModel = model;
        else
            delete model;
    }

    thumbnailRefresh[1][1] = true;
    setTextureFilters(-1, GL_NEAREST_MIPMAP_NEAREST, GL_LINEAR);
    return true;
}

void advanceThumbnailRefresh(int list) {
    for (int tile = 16; tile >= 1; --tile) {
        if (!thumbnailRefresh[list][tile]) continue;
        std::string path = readPath(tilePathFile(list, tile), narrowScan);
        discardTexture(tileTextures[list][tile]);
        tileTextures[list][tile] = loadTextureOrPlaceholder(path, tile);
        thumbnailRefresh[list][tile] = false;
        if (tile < 16) thumbnailRefresh[list][tile + 1] = true;
    }
}

void drawWall() {
    std::optional<int> selected = readInt(stateFile(StateFile::selectedTile));
    std::optional<float> scale = readFloat(stateFile(StateFile::wallScale));
    if (currentList != catalogueList && currentList != favouritesList && currentList != findList) return;
    const int list = currentList;
    const float s = scale ? *scale : defaultWallScale;

    glPushMatrix();
    glTranslatef(0, static_cast<float>(wallLift), 0);
    float offset[3];
    wallBandOffset(wallPlacementBand(s), offset);
    glTranslatef(offset[0], offset[1], offset[2]);
    glScalef(s, s, s);
    for (int tile : tileDrawOrder) {
        glPushMatrix();
        glTranslatef(static_cast<float>(tileSpacingX * tileColumn(tile)),
                     static_cast<float>(-tileSpacingY * tileRow(tile)), 0);
        if (tileModel && !blankTiles[list][tile]) {
            drawModel(*tileModel, tile == playingTile && playingTexture != 0 ? playingTexture
                                                                             : textureName(tileTextures[list][tile]));
        }
        if (selected && *selected == tile && selectionModel) {
            drawModel(*selectionModel, textureName(selectionTexture));
        }
        glPopMatrix();
    }
    glPopMatrix();

    advanceThumbnailRefresh(list);
}
