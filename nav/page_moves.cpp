#include "nav/page_moves.h"

#include <cstdlib>

#include "dataroot/data_root.h"

long long scrolledToEnd(long long first, long long lastFirst, bool forward) {
    if (forward) {
        // A page beyond the end (a count that shrank or was damaged) comes
        // back to it, by whole rows.
        if (first > lastFirst) return first - pageStep * ((first - lastFirst + pageStep - 1) / pageStep);
        if (first == lastFirst) return first;
        return first + pageStep * ((lastFirst - first + pageStep - 1) / pageStep);
    }
    if (first <= 1) return first;
    return first - pageStep * ((first - 1 + pageStep - 1) / pageStep);
}

std::optional<ChannelPlace> placeChannel(const std::vector<int>& page, long long channel,
                                         long long lastFirst) {
    if (page.size() < static_cast<size_t>(wallTiles)) return std::nullopt;
    const long long first = page[0];
    const long long lowest = scrolledToEnd(first, lastFirst, false);
    const long long highest = scrolledToEnd(first, lastFirst, true);
    // The smallest move that brings the channel onto one of the tiles
    // `from` to `to`.
    const auto nearestOn = [&](int from, int to) {
        std::optional<ChannelPlace> nearest;
        for (int tile = from; tile <= to; ++tile) {
            const long long shift = channel - page[static_cast<size_t>(tile - 1)];
            if (shift % pageStep != 0 || first + shift < lowest || first + shift > highest)
                continue;
            if (!nearest || std::llabs(shift) < std::llabs(nearest->shift))
                nearest = ChannelPlace{shift, tile};
        }
        return nearest;
    };
    if (std::optional<ChannelPlace> place = nearestOn(1, selectableTiles)) return place;
    return nearestOn(selectableTiles + 1, wallTiles);
}
