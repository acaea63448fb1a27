#include "scene/wall.h"

int currentList = 1;
Texture* tileTextures[3][17] = {};
bool thumbnailRefresh[3][17] = {};
Texture* selectionTexture = nullptr;
Model* tileModel = nullptr;
Model* selectionModel = nullptr;

void setupScene() {}

void drawWall() {}
