#include "scene/placement.h"

#include <algorithm>
#include <cmath>

#include "assets/model.h"

const float defaultWallScale = 1.79f;

namespace {

// Band b (1 to 9) holds the scales above bandBounds[b-1][0] and below
// bandBounds[b-1][1]; band 4 holds its lower bound 2.0 as well.
const double bandBounds[9][2] = {{2.3, 100.0}, {2.2, 2.3}, {2.1, 2.2}, {2.0, 2.1}, {1.9, 2.0},
                                 {1.8, 1.9},   {1.7, 1.8}, {1.6, 1.7}, {0.0, 1.6}};
const int bandClosedBelow = 4;
// Half a degree in radians: half the field of view turned into radians.
const double halfDegree = 3.14159265358979323846 / 360.0;
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

TileOutline modelOutline(const Model& model) {
    if (model.vertices.size() < 3) return deliveredTileOutline;
    TileOutline outline = {model.vertices[0], model.vertices[1], model.vertices[0],
                           model.vertices[1]};
    for (size_t i = 0; i + 2 < model.vertices.size(); i += 3) {
        outline.left = std::min(outline.left, static_cast<double>(model.vertices[i]));
        outline.right = std::max(outline.right, static_cast<double>(model.vertices[i]));
        outline.bottom = std::min(outline.bottom, static_cast<double>(model.vertices[i + 1]));
        outline.top = std::max(outline.top, static_cast<double>(model.vertices[i + 1]));
    }
    return outline;
}

int tileAtPixel(const WallView& view, double s, const TileOutline& outline, int x, int y) {
    if (view.width <= 0 || view.height <= 0 || !(view.aspect > 0) || !std::isfinite(s) ||
        s == 0)
        return 0;
    float offset[3];
    wallBandOffset(wallPlacementBand(s), offset);
    // The wall's plane lies at the band's depth; without a band it passes
    // through the eye and shows nothing.
    const double depth = -static_cast<double>(offset[2]);
    if (!(depth > 0)) return 0;

    // The pixel's centre in normalised device coordinates, then the point of
    // the wall's plane the perspective projects there.
    const double ndcX = 2.0 * (x + 0.5) / view.width - 1.0;
    const double ndcY = 1.0 - 2.0 * (y + 0.5) / view.height;
    const double halfHeight = std::tan(view.fieldOfView * halfDegree) * depth;
    const double eyeX = ndcX * halfHeight * view.aspect;
    const double eyeY = ndcY * halfHeight;

    // The same point in wall units, from the top left tile's origin.
    const double wallX = (eyeX - offset[0]) / s;
    const double wallY = (eyeY - wallLift - offset[1]) / s;
    for (int tile = 1; tile <= 16; ++tile) {
        const double u = wallX - tileSpacingX * tileColumn(tile);
        const double v = wallY + tileSpacingY * tileRow(tile);
        if (u >= outline.left && u <= outline.right && v >= outline.bottom && v <= outline.top)
            return tile;
    }
    return 0;
}
