#include "scene/placement.h"

const float defaultWallScale = 1.79f;

namespace {

// Band b (1 to 9) holds the scales above bandBounds[b-1][0] and below
// bandBounds[b-1][1]; band 4 holds its lower bound 2.0 as well.
const double bandBounds[9][2] = {{2.3, 100.0}, {2.2, 2.3}, {2.1, 2.2}, {2.0, 2.1}, {1.9, 2.0},
                                 {1.8, 1.9},   {1.7, 1.8}, {1.6, 1.7}, {0.0, 1.6}};
const int bandClosedBelow = 4;
const float bandOffsets[9][3] = {{-23, 6, -35}, {-22, 4, -35}, {-21, 4, -35},
                                 {-20.5f, 4, -35}, {-20, 4, -35}, {-19, 4, -35},
                                 {-18, 4, -35}, {-17, 4, -35}, {-16, 4, -35}};

}  // namespace

const int tileDrawOrder[16] = {1, 2, 3, 4, 8, 7, 6, 5, 9, 10, 11, 12, 16, 15, 14, 13};

int wallPlacementBand(double s) {
    for (int band = 1; band <= 9; ++band) {
        double lower = bandBounds[band - 1][0];
        bool aboveLower = band == bandClosedBelow ? s >= lower : s > lower;
        if (aboveLower && s < bandBounds[band - 1][1]) return band;
    }
    return 0;
}

void wallBandOffset(int band, float offset[3]) {
    for (int i = 0; i < 3; ++i) offset[i] = band >= 1 && band <= 9 ? bandOffsets[band - 1][i] : 0;
}

int tileColumn(int tile) { return (tile - 1) % 4; }

int tileRow(int tile) { return (tile - 1) / 4; }

void tileOrigin(double s, int tile, double origin[3]) {
    float offset[3];
    wallBandOffset(wallPlacementBand(s), offset);
    origin[0] = offset[0] + s * tileSpacingX * tileColumn(tile);
    origin[1] = wallLift + offset[1] - s * tileSpacingY * tileRow(tile);
    origin[2] = offset[2];
}
