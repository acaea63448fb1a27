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
