// Where a page goes when it is moved by more than one row: to an end of its
// list, or to the page that shows a given channel. Plain arithmetic on the
// numbers of a page; no files, no OpenGL. A page moves only the way
// scrolling moves it: every number by the same multiple of a row (4), never
// past the bounds scrolling keeps.
#pragma once

#include <optional>
#include <vector>

// The first number of the page that scrolling row after row from a page
// starting at `first` comes to rest on: forward while the first number is
// below `lastFirst`, back while it is above 1. Forward from a page beyond
// `lastFirst` it comes back by whole rows to the last one at or before it.
long long scrolledToEnd(long long first, long long lastFirst, bool forward);

// Where a channel comes to stand: the shift that moves every number of the
// page (a multiple of 4, 0 when it stays) and the tile that then shows the
// channel.
struct ChannelPlace {
    long long shift;
    int tile;
};

// The nearest page, from `page` (16 numbers, tile 1 first), that scrolling
// reaches within 1 and `lastFirst` and that shows `channel` on a selectable
// tile (1 to 12). When no such page exists, the nearest one that shows it on
// the bottom row (tiles 13 to 16), which cannot be selected; none when no
// page scrolling reaches shows it at all.
std::optional<ChannelPlace> placeChannel(const std::vector<int>& page, long long channel,
                                         long long lastFirst);
