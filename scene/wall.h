// The scene: one-time graphics set-up and the channel wall drawn every frame,
// with the process-wide values that the wall, page building and the keyboard
// share.
#pragma once

struct Texture;
struct Model;

// The list on the wall: 1 the catalogue, 2 the favourites, 3 (findList) the
// channels found by name while find mode is on. 1 at start-up.
extern int currentList;

// Per list (index 1 to 3) and tile (index 1 to 16): the texture the tile
// shows. Each entry is one holder of its texture (see loadTexture); the
// found channels' entries are empty until find mode first shows them.
extern Texture* tileTextures[4][17];

// Per list and tile: the thumbnail refresh chain. Setting flag 1 makes the
// wall reload that list's tiles from their tile path files, one per frame.
extern bool thumbnailRefresh[4][17];

// Per list and tile: the tile is left out of the wall (the places past the
// last channel found by name), so a short list of matches, or none, shows
// as a wall with gaps; the selection frame is still drawn.
extern bool blankTiles[4][17];

extern Texture* selectionTexture;

// The tile of the current list that shows a playing channel instead of its
// thumbnail (0: none), and the OpenGL texture holding its picture.
extern int playingTile;
extern int playingTexture;
extern Model* tileModel;
extern Model* selectionModel;

// Fixes the graphics state, loads the start-up images and models and arms
// the first thumbnail refresh of list 1. false when the wall cannot be
// drawn (a scene image or model is missing or damaged, memory ran out): the
// reason has been reported, and the program is to end with status 1.
[[nodiscard]] bool setupScene();

// Draws the wall of the current list and advances its thumbnail refresh.
void drawWall();

// One step of a list's thumbnail refresh: every tile whose flag is set, from
// tile 16 down to tile 1, reloads its thumbnail from its tile path file (or
// shows its placeholder when that cannot be loaded) and passes the flag on
// to the next tile. So an armed refresh replaces one tile per step.
void advanceThumbnailRefresh(int list);
