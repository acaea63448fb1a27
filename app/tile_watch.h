// Thumbnails that change on disk while they are on the wall: a tile whose
// thumbnail file is replaced (written in place or renamed over, as every
// writer of the data root does) shows the new picture within a few frames,
// and the rest of the wall is not touched.
#pragma once

#include <string>
#include <vector>

// The tiles (1 to 16) whose path is one of `changed`; paths[k] is tile k's
// thumbnail path (paths[0] is not used).
std::vector<int> tilesShowing(const std::string (&paths)[17], const std::vector<std::string>& changed);

// The files the watch names for the wall: the tiles' paths that are
// data-root paths (the only ones the wall loads), each once.
std::vector<std::string> watchedThumbnails(const std::string (&paths)[17]);

// Watches the thumbnails of the tiles of the current list and renews the
// texture of every tile whose file changed since the last call: the old
// texture is discarded and the file decoded afresh (the tile's placeholder
// when it no longer loads). A changed file of those folders that is not on
// the wall but still kept from an earlier page is forgotten, so the page
// that shows it again decodes it afresh. Called between frames; the
// renewed tile's new texture makes the next frame due. Returns whether a
// tile was renewed.
bool renewChangedTiles();

// Ends the watch (tests, and the end of the program).
void endTileWatch();
