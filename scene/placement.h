// Where the wall and its tiles stand in eye space, from the wall scale. No
// OpenGL here, so the numbers can be checked exactly.
#pragma once

// The wall scale used when VESTRALUME/n/u.txt gives no value: the installed
// first-run scale, so a damaged scale file never hides the wall.
extern const float defaultWallScale;

// The placement band (1 to 9) that a wall scale falls in, or 0 for none
// (s <= 0, s >= 100). The scale is compared in double precision with the
// exact decimal bounds, so a value read as single precision falls where its
// float value lies: 2.3f is just below 2.3 and gives band 2.
int wallPlacementBand(double s);

// The offset of a band (zero for band 0), x, y, z.
void wallBandOffset(int band, float offset[3]);

// Column (0..3) and row (0..3) of tile k (1..16), numbered row by row from
// the top left.
int tileColumn(int tile);
int tileRow(int tile);

// The eye-space origin of tile k at wall scale s:
// (0, 5.5, 0) + band offset + s * (6.55 column, -3.75 row, 0).
void tileOrigin(double s, int tile, double origin[3]);

// The order in which the wall draws its tiles: along the first row, back
// along the second, along the third, back along the fourth.
extern const int tileDrawOrder[16];

// Distances between neighbouring tiles, in wall units.
constexpr double tileSpacingX = 6.55;
constexpr double tileSpacingY = 3.75;
// Where the wall's top left tile stands before the band offset.
constexpr double wallLift = 5.5;

// The rectangle a tile covers in the wall's plane, in wall units around the
// tile's origin (before the wall scale).
struct TileOutline {
    double left, bottom, right, top;
};

// The outline of the delivered tile model: the rim of its panel in the
// wall's plane.
constexpr TileOutline deliveredTileOutline = {-3.25, -1.85, 3.25, 1.85};

struct Model;

// The outline a tile model draws: the smallest rectangle around its vertices
// seen from the front (x and y). A model without vertices has the delivered
// outline.
TileOutline modelOutline(const Model& model);

// How the wall is seen: the window's size in pixels and the perspective
// projection it is drawn through (vertical field of view in degrees, aspect
// ratio of the projection).
struct WallView {
    int width, height;
    double fieldOfView;
    double aspect;
};

// The tile (1 to 16) that the window pixel (x, y) shows, x from the left and
// y from the top as the toolkit reports the pointer, for a wall drawn at
// scale s in eye coordinates (the camera does not move it); 0 when the pixel
// shows no tile. The pixel's centre is followed back through the projection
// onto the wall's plane and compared with every tile's outline there, placed
// as the wall draws it: (0, 5.5, 0) + band offset + s * tile offset.
int tileAtPixel(const WallView& view, double s, const TileOutline& outline, int x, int y);
