// The scene: one-time graphics set-up and the channel wall drawn every frame,
// with the process-wide values that the wall, page building and the keyboard
// share.
#pragma once

struct Texture;
struct Model;

// The list on the wall: 1 the catalogue, 2 the favourites. 1 at start-up.
extern int currentList;

// Per list (index 1 and 2) and tile (index 1 to 16): the texture the tile shows.
extern Texture* tileTextures[3][17];

// Per list and tile: the thumbnail refresh chain. Setting flag 1 makes the
// wall reload that list's tiles from their tile path files, one per frame.
extern bool thumbnailRefresh[3][17];

extern Texture* selectionTexture;
extern Model* tileModel;
extern Model* selectionModel;

// Fixes the graphics state, loads the start-up images and models and arms
// the first thumbnail refresh of list 1.
void setupScene();

// Draws the wall of the current list and advances its thumbnail refresh.
void drawWall();
